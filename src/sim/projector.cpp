#include "sim/projector.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "link/answer.h"

namespace qelo::sim {

namespace {

bool printable(unsigned char c) { return c >= 0x20 && c <= 0x7e; }

// The reply codes a query's table knows, from the table the panel reads
// answers with, so that the two cannot disagree about them.
std::vector<std::string> replyCodes(std::string_view query) {
    std::vector<std::string> codes;
    if (const link::Query* q = link::findQuery(query))
        for (const link::Word& w : q->table) codes.push_back(w.answer);
    return codes;
}

const std::vector<std::string>& stateCodes() {
    static const std::vector<std::string> codes = replyCodes("CR0");
    return codes;
}

std::string describeState(std::string_view code) {
    const link::Answer a = link::readAnswer("CR0", std::string(code) + '\r');
    std::string out(code);
    if (a.word) out += std::string(" (") + a.word->words + ")";
    return out;
}

bool failureState(std::string_view code) {
    return code == "10" || code == "88" || code == "08" || code == "28" || code == "02";
}

double hoursOf(Time t) { return std::chrono::duration<double, std::ratio<3600>>(t).count(); }

}  // namespace

std::string quoted(std::string_view bytes) {
    constexpr std::size_t kMax = 64;
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size() && i < kMax; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default:
            if (printable(c)) {
                out += static_cast<char>(c);
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                out += hex;
            }
        }
    }
    out += '"';
    if (bytes.size() > kMax) out += "...";
    return out;
}

Projector::Projector(Settings settings, Faults faults, Time start)
    : settings_(std::move(settings)),
      faults_(faults),
      // Ten bits a byte (start, eight data, stop), rounded up so we are
      // never faster than the line.
      byteTime_((10'000'000 + std::max(settings_.baud, 1) - 1) / std::max(settings_.baud, 1)),
      state_("80"),
      mode_(validMode(settings_.mode) ? settings_.mode : '1'),
      reversal_(validReversal(settings_.reversal) ? settings_.reversal : "11"),
      lampHoursBase_(std::max(0.0, settings_.lampHours)),
      now_(start),
      rng_(settings_.seed ? settings_.seed : 1) {
    if (validState(settings_.state) && settings_.state != state_) enter(start, settings_.state);
    if (faults_.chatter.count() > 0) chatterAt_ = start + faults_.chatter;
    hangupAtFrames_ = faults_.hangupAfter;
    log_.clear();
}

bool Projector::validState(std::string_view code) {
    const auto& codes = stateCodes();
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

bool Projector::validMode(char mode) {
    static const std::vector<std::string> codes = replyCodes("CR1");
    return std::find(codes.begin(), codes.end(), std::string(1, mode)) != codes.end();
}

bool Projector::validReversal(std::string_view code) {
    static const std::vector<std::string> codes = replyCodes("CR4");
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

bool Projector::lampOn() const { return state_ == "40" || state_ == "00"; }

bool Projector::busy() const { return state_ == "40" || state_ == "20" || state_ == "24"; }

double Projector::lampHours(Time now) const {
    double hours = lampHoursBase_;
    if (lampOn() && now > lampSince_) hours += hoursOf(now - lampSince_) * settings_.timeScale;
    return hours;
}

void Projector::log(Time at, std::string text) { log_.push_back({at, std::move(text)}); }

std::vector<LogEntry> Projector::takeLog() {
    std::vector<LogEntry> out;
    out.swap(log_);
    return out;
}

void Projector::enter(Time now, std::string_view code) {
    if (lampOn()) lampHoursBase_ = lampHours(now);
    std::string before = state_;
    state_ = std::string(code);
    if (lampOn()) lampSince_ = now;
    if (state_ == "40")
        stateEndsAt_ = now + settings_.countdown;
    else if (state_ == "20" || state_ == "24")
        stateEndsAt_ = now + settings_.cooldown;
    else
        stateEndsAt_.reset();
    log(now, "state " + before + " -> " + describeState(state_));
}

void Projector::advance(Time now) {
    if (now < now_) now = now_;
    now_ = now;
    for (;;) {
        bool stateDue = stateEndsAt_ && *stateEndsAt_ <= now;
        bool chatterDue = chatterAt_ && *chatterAt_ <= now && !hungUp_;
        if (!stateDue && !chatterDue) break;
        if (stateDue && (!chatterDue || *stateEndsAt_ <= *chatterAt_)) {
            Time at = *stateEndsAt_;
            if (state_ == "40")
                enter(at, "00");
            else if (state_ == "20")
                enter(at, "80");
            else if (state_ == "24")
                enter(at, "04");
            else
                stateEndsAt_.reset();
        } else {
            Time at = *chatterAt_;
            if (!faults_.silent) queue(at, state_ + '\r', Kind::Unasked, "unasked");
            // Ticks missed while nobody asked are dropped, not bunched.
            Time next = at + faults_.chatter;
            while (next + faults_.chatter <= now) next += faults_.chatter;
            chatterAt_ = next;
        }
    }
}

void Projector::receive(Time now, std::string_view bytes) {
    advance(now);
    for (char ch : bytes) {
        if (hungUp_) return;
        if (ch != '\r') {
            // Only the start of an overlong frame is kept, for the log.
            if (partial_.size() < 16) partial_ += ch;
            ++partialLength_;
            continue;
        }
        bool wellFormed = partialLength_ == 3 &&
                          std::all_of(partial_.begin(), partial_.end(),
                                      [](char c) { return printable(static_cast<unsigned char>(c)); });
        if (wellFormed) {
            handleFrame(now, partial_);
        } else {
            ++counters_.malformed;
            std::string shown = partial_;
            if (partialLength_ <= partial_.size()) shown += '\r';
            std::string text = "rx " + quoted(shown);
            if (partialLength_ > partial_.size()) text += "...";
            log(now, text + " malformed, " + std::to_string(partialLength_ + 1) + " bytes");
        }
        partial_.clear();
        partialLength_ = 0;
    }
}

void Projector::handleFrame(Time now, const std::string& code) {
    ++counters_.frames;
    std::string rx = "rx " + quoted(code + '\r');
    if (hangupAtFrames_ > 0 && counters_.frames >= hangupAtFrames_) {
        log(now, rx + " frame " + std::to_string(counters_.frames) + ", hanging up");
        hangUp(now);
        return;
    }
    std::string silent = faults_.silent ? ", silent" : "";
    if (link::findQuery(code)) {
        log(now, rx + " query " + code + silent);
        queue(now + settings_.replyDelay, answerTo(code, now), Kind::Answer, "answer " + code);
        return;
    }
    const link::CatalogueEntry* entry = link::findCode(code);
    if (!entry) {
        log(now, rx + " unknown " + code + ", no answer");
        return;
    }
    std::string name = std::string(entry->group) + " " + entry->caption;
    if (busy()) {
        log(now, rx + " ignored " + code + " (" + name + "), busy in state " + describeState(state_));
        return;
    }
    if (failureState(state_)) {
        log(now, rx + " refused " + code + " (" + name + ") in state " + describeState(state_));
        return;
    }
    log(now, rx + " accepted " + code + " (" + name + ")" + silent);
    handleControl(now, code);
    queue(now + settings_.replyDelay, std::string(kAck), Kind::Answer, "ack " + code);
}

void Projector::handleControl(Time now, const std::string& code) {
    if (code == "C00") {  // POWER ON, also out of power management
        if (state_ == "80" || state_ == "04") enter(now, "40");
    } else if (code == "C02") {  // POWER OFF
        if (state_ == "00")
            enter(now, "20");
        else if (state_ == "04")
            enter(now, "80");  // the lamp has already cooled
    } else if (code == "C2A") {  // POWER MANAGEMENT ON: lamp off, wait for a wake-up
        if (state_ == "00") enter(now, "24");
    } else if (code == "C2B") {  // POWER MANAGEMENT OFF wakes a waiting projector
        if (state_ == "04") enter(now, "40");
    } else if (code == "C05") {
        mode_ = '1';
    } else if (code == "C06") {
        mode_ = '3';
    }
}

std::string Projector::answerTo(std::string_view query, Time now) const {
    if (query == "CR0") return state_ + '\r';
    if (query == "CR1") return std::string(1, mode_) + '\r';
    if (query == "CR4") return reversal_ + '\r';
    if (query == "CR3") {
        double hours = std::clamp(std::floor(lampHours(now)), 0.0, 9999.0);
        char text[8];
        std::snprintf(text, sizeof text, "%04d\r", static_cast<int>(hours));
        return text;
    }
    return {};
}

std::string Projector::garbage() {
    auto next = [this] {
        rng_ ^= rng_ << 13;
        rng_ ^= rng_ >> 17;
        rng_ ^= rng_ << 5;
        return rng_;
    };
    // Always at least one control character and one byte above 127, so
    // every garbage answer exercises both.
    std::string bytes;
    bytes += static_cast<char>(0x80 | (next() & 0x7f));
    bytes += static_cast<char>(next() & 0x1f);
    std::size_t extra = 1 + next() % 6;
    for (std::size_t i = 0; i < extra; ++i) bytes += static_cast<char>(next() & 0xff);
    for (std::size_t i = bytes.size() - 1; i > 0; --i) std::swap(bytes[i], bytes[next() % (i + 1)]);
    return bytes;
}

void Projector::queue(Time due, std::string bytes, Kind kind, std::string what) {
    if (faults_.silent || hungUp_ || !connected_) return;
    if (out_.size() >= kMaxWaiting) {
        ++counters_.dropped;
        log(due, "dropped " + what + ", " + std::to_string(out_.size()) + " answers waiting");
        return;
    }
    if (faults_.garbage && kind == Kind::Answer) {
        bytes = garbage();
        what = "garbage instead of " + what;
    }
    out_.push_back({std::move(bytes), due, kind, std::move(what)});
}

std::optional<Time> Projector::nextByteAt() const {
    if (out_.empty() || hungUp_) return std::nullopt;
    const Pending& p = out_.front();
    if (p.sent == 0) {
        Time at = p.due;
        if (lastByteAt_) at = std::max(at, *lastByteAt_ + byteTime_);
        return at;
    }
    return *lastByteAt_ + std::max<Time>(byteTime_, faults_.split);
}

std::string Projector::transmit(Time now) {
    advance(now);
    std::string bytes;
    while (auto at = nextByteAt()) {
        if (*at > now_) break;
        Pending& p = out_.front();
        bytes += p.bytes[p.sent++];
        lastByteAt_ = *at;
        if (p.sent >= p.bytes.size()) {
            log(*at, "tx " + quoted(p.bytes) + " " + p.what);
            ++(p.kind == Kind::Answer ? counters_.answers : counters_.unasked);
            out_.pop_front();
        }
    }
    return bytes;
}

std::optional<Time> Projector::nextDue() const {
    std::optional<Time> due = nextByteAt();
    auto consider = [&due](std::optional<Time> t) {
        if (t && (!due || *t < *due)) due = t;
    };
    consider(stateEndsAt_);
    if (!hungUp_) consider(chatterAt_);
    return due;
}

void Projector::setSilent(Time now, bool on) {
    advance(now);
    faults_.silent = on;
    // Silence means nothing more leaves, including what was already waiting.
    if (on) out_.clear();
    log(now, std::string("silent ") + (on ? "on" : "off"));
}

void Projector::setGarbage(Time now, bool on) {
    advance(now);
    faults_.garbage = on;
    log(now, std::string("garbage ") + (on ? "on" : "off"));
}

void Projector::setSplit(Time now, Millis gap) {
    advance(now);
    faults_.split = std::max(gap, Millis{0});
    log(now, "split " + std::to_string(faults_.split.count()) + " ms");
}

void Projector::setChatter(Time now, Millis period) {
    advance(now);
    faults_.chatter = std::max(period, Millis{0});
    if (faults_.chatter.count() > 0)
        chatterAt_ = now + faults_.chatter;
    else
        chatterAt_.reset();
    log(now, "chatter every " + std::to_string(faults_.chatter.count()) + " ms");
}

void Projector::setHangupAfter(Time now, long frames) {
    advance(now);
    faults_.hangupAfter = std::max(frames, 0L);
    hangupAtFrames_ = faults_.hangupAfter > 0 ? counters_.frames + faults_.hangupAfter : 0;
    log(now, "hang up after " + std::to_string(faults_.hangupAfter) + " more frames");
}

void Projector::setReplyDelay(Time now, Millis delay) {
    advance(now);
    settings_.replyDelay = std::max(delay, Millis{0});
    log(now, "reply delay " + std::to_string(settings_.replyDelay.count()) + " ms");
}

void Projector::hangUp(Time now) {
    advance(now);
    if (hungUp_) return;
    hungUp_ = true;
    out_.clear();
    chatterAt_.reset();
    log(now, "hangup");
}

std::size_t Projector::disconnect(Time now) {
    advance(now);
    const std::size_t unsent = out_.size();
    out_.clear();
    partial_.clear();
    partialLength_ = 0;
    connected_ = false;
    return unsent;
}

void Projector::connect(Time now) {
    advance(now);
    connected_ = true;
}

bool Projector::forceState(Time now, std::string_view code) {
    if (!validState(code)) return false;
    advance(now);
    enter(now, code);
    return true;
}

bool Projector::setMode(Time now, char mode) {
    if (!validMode(mode)) return false;
    advance(now);
    mode_ = mode;
    log(now, std::string("mode ") + mode);
    return true;
}

bool Projector::setReversal(Time now, std::string_view code) {
    if (!validReversal(code)) return false;
    advance(now);
    reversal_ = std::string(code);
    log(now, "reversal " + reversal_);
    return true;
}

void Projector::setLampHours(Time now, double hours) {
    advance(now);
    lampHoursBase_ = std::max(0.0, hours);
    lampSince_ = now;
    // Any count it was told, however large: no cast that could overflow.
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", std::floor(lampHoursBase_));
    log(now, "lamp hours " + std::string(text));
}

}  // namespace qelo::sim
