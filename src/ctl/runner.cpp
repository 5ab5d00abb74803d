#include "ctl/runner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <ostream>
#include <utility>

#include "link/protocol.h"
#include "seam/platform.h"

namespace qelo::ctl {

using link::kAck;

std::string utcNow() {
    using namespace std::chrono;
    const auto t = time_point_cast<milliseconds>(system_clock::now());
    const std::time_t secs = system_clock::to_time_t(t);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(t.time_since_epoch().count() % 1000));
    return text;
}

void writeJson(std::ostream& out, const JsonRecord& r) {
    auto bytesOrNull = [](const std::string* s) { return s ? jsonBytes(*s) : std::string("null"); };
    std::string line = "{\"time\":" + jsonText(r.time);
    line += ",\"device\":" + jsonText(r.device);
    line += ",\"action\":" + (r.action ? jsonText(r.action->name) : "null");
    line += ",\"code\":" + (r.action ? jsonText(r.action->code) : "null");
    line += ",\"sent\":" + bytesOrNull(r.sent);
    line += ",\"reply\":" + bytesOrNull(r.reply);
    line += ",\"words\":" + bytesOrNull(r.words);
    line += ",\"ms\":" + (r.ms ? std::to_string(*r.ms) : "null");
    line += ",\"discarded\":" + bytesOrNull(r.discarded);
    line += r.error.empty() ? ",\"ok\":true}" : ",\"ok\":false,\"error\":" + jsonText(r.error) + "}";
    out << line << '\n' << std::flush;
}

void Runner::traffic(const char* direction, const std::string& rendered) {
    err_ << line_.stamp() << ' ' << direction << rendered << '\n' << std::flush;
}

void Runner::showRxd(std::string_view bytes) {
    if (watch_) traffic("RXD", link::render(bytes));
}

void Runner::setAside(std::string_view bytes) {
    showRxd(bytes);
    if (discarded_.size() < kLongestReply) discarded_.append(bytes.substr(0, kLongestReply - discarded_.size()));
}

void Runner::takeIn(long long until) {
    // Accounted-for bytes go once they are half the buffer: each byte is
    // moved a bounded number of times, however the line delivers them.
    if (head_ == buf_.size()) {
        buf_.clear();
        head_ = 0;
    } else if (head_ > buf_.size() / 2) {
        buf_.erase(0, head_);
        head_ = 0;
    }
    buf_ += line_.receive(until);
}

void Runner::setAsideLines() {
    for (;;) {
        const char* start = buf_.data() + head_;
        const auto* cr = static_cast<const char*>(std::memchr(start, link::kCR, buf_.size() - head_));
        if (!cr) break;
        const std::string_view l(start, static_cast<std::size_t>(cr - start) + 1);
        if (l == kAck && acksOwed_ > 0) --acksOwed_;
        setAside(l);
        head_ += l.size();
    }
    if (buf_.size() - head_ >= kLongestReply) {
        setAside(std::string_view(buf_).substr(head_));
        head_ = buf_.size();
    }
}

void Runner::dropFragment() {
    const std::string_view rest = std::string_view(buf_).substr(head_);
    // An acknowledgement cut short may still be completed.
    if (rest.empty() || (rest == kAck.substr(0, 1) && acksOwed_ > 0)) return;
    setAside(rest);
    head_ = buf_.size();
}

void Runner::settle(long long quietMs, long long until) {
    long long last = line_.now();
    for (;;) {
        const long long end = quietMs > 0 ? std::min(until, last + quietMs) : until;
        if (line_.now() >= end) break;
        const std::size_t before = buf_.size() - head_;
        takeIn(end);
        if (buf_.size() - head_ != before) last = line_.now();
        setAsideLines();
    }
    setAsideLines();
}

std::optional<Runner::Answer> Runner::takeAnswer(bool query) {
    for (;;) {
        // The cap counts from where the answer starts, however its bytes came.
        const char* start = buf_.data() + head_;
        const std::size_t span = std::min(buf_.size() - head_, kLongestReply);
        const auto* cr = static_cast<const char*>(std::memchr(start, link::kCR, span));
        if (!cr) {
            if (span < kLongestReply) return std::nullopt;
            Answer a{std::string(start, span), false};
            head_ += span;
            showRxd(a.bytes);
            return a;
        }
        Answer a{std::string(start, static_cast<std::size_t>(cr - start) + 1), true};
        head_ += a.bytes.size();
        showRxd(a.bytes);
        const bool ack = a.bytes == kAck && acksOwed_ > 0;
        if (ack) --acksOwed_;
        // A late acknowledgement of an earlier command is not the answer.
        if (query && ack) continue;
        return a;
    }
}

void Runner::lost(const std::string& why, Exchange& x) {
    x.status = kPortFailed;
    // A server that says why it closes (it cannot open its device) is quoted.
    std::string said = discarded_;
    if (x.reply) said += *x.reply;
    said += std::string_view(buf_).substr(head_, kLongestReply);
    x.error = said.empty() ? why : why + " after saying " + quoteBytes(said.substr(0, kLongestReply));
}

void Runner::check(const Action& a, const Answer& got, Exchange& x) {
    const std::string what = "\"" + a.name + "\" (" + a.code + ") on " + line_.device();
    if (!got.complete && got.bytes.size() >= kLongestReply) {
        // The line no longer keeps to frames; nothing after this could be trusted.
        x.status = kNoReply;
        x.error = "the reply to " + what + " ran past " + std::to_string(kLongestReply) + " bytes without a CR";
    } else if (!got.complete) {
        x.status = kNoReply;
        x.error = "the reply to " + what + " had no CR by the time-out: " + quoteBytes(got.bytes);
    } else if (!link::answerFits(a.code, got.bytes)) {
        x.status = kUnexpected;
        x.error = "unexpected answer to " + what + ": " + quoteBytes(got.bytes) + ", expected " +
                  link::expectedAnswer(a.code);
    } else if (a.query) {
        x.words = link::decode(link::frame(a.code), link::render(got.bytes));
        if (x.words && x.words->starts_with(' ')) x.words->erase(0, 1);
    }
}

Exchange Runner::exchange(const Action& a, long long waitMs) {
    Exchange x;
    const long long until = line_.now() + waitMs;
    try {
        takeIn(line_.now());
        setAsideLines();
        dropFragment();
        if (!discarded_.empty()) x.discarded = std::exchange(discarded_, {});
        const std::string f = link::frame(a.code);
        line_.send(f);
        x.sent = f;
        const long long at = line_.now();
        if (watch_) traffic("TXD", link::render(f));
        if (!a.query) ++acksOwed_;
        std::optional<Answer> got = takeAnswer(a.query);
        while (!got && line_.now() < until) {
            takeIn(until);
            got = takeAnswer(a.query);
        }
        if (!got && a.query) {
            // What came without its CR is the whole of what there is.
            if (head_ < buf_.size()) {
                got = Answer{buf_.substr(head_), false};
                head_ = buf_.size();
                showRxd(got->bytes);
            } else {
                if (watch_) traffic("RXD", link::kTimeoutMark);
                x.status = kNoReply;
                x.error = "no reply to \"" + a.name + "\" (" + a.code + ") within " + std::to_string(waitMs) +
                          " ms on " + line_.device();
            }
        }
        if (!got) return x;
        x.reply = got->bytes;
        x.ms = line_.now() - at;
        check(a, *got, x);
        // Something else followed by a hang-up is the server's last word, not an answer.
        if (x.status != kDone) takeIn(line_.now());
    } catch (const platform::LineError& e) {
        lost(e.what(), x);
    }
    return x;
}

bool outputWritten(std::ostream& out, std::ostream& err) {
    if (out) return true;
    const int why = errno;
    err << "qelo-ctl: standard output could not be written" << (why ? std::string(": ") + std::strerror(why) : "")
        << '\n' << std::flush;
    return false;
}

bool Runner::report(const Action& a, const Exchange& x, const Options& o) {
    if (!x.error.empty()) err_ << "qelo-ctl: " << x.error << '\n' << std::flush;
    if (o.json) {
        writeJson(out_, {utcNow(), line_.device(), &a, x.sent.empty() ? nullptr : &x.sent,
                         x.reply ? &*x.reply : nullptr, x.words ? &*x.words : nullptr, x.ms,
                         x.discarded ? &*x.discarded : nullptr, x.error});
    } else if (x.status == kDone && x.reply) {
        if (o.raw)
            out_ << link::render(*x.reply) << '\n';
        else if (a.query)
            out_ << x.words.value_or(link::render(*x.reply)) << '\n';
        out_ << std::flush;
    }
    return outputWritten(out_, err_);
}

int Runner::run(const Options& o) {
    watch_ = o.watch;
    try {
        if (line_.quietMs() > 0) settle(line_.quietMs(), line_.now() + o.timeoutMs);
    } catch (const platform::LineError& e) {
        Exchange x;
        lost(e.what(), x);
        if (!o.actions.empty() && !report(o.actions.front(), x, o)) return kOutputLost;
        return kPortFailed;
    }
    for (const Action& a : o.actions) {
        long long due = line_.now();
        for (int k = 0; k < o.repeat; ++k) {
            if (k > 0) {
                // Missed ticks are dropped, not bunched, as the panel's timers do.
                due = std::max(due + o.intervalMs, line_.now());
                try {
                    idle(due);
                } catch (const platform::LineError& e) {
                    Exchange x;
                    lost(e.what(), x);
                    return report(a, x, o) ? kPortFailed : kOutputLost;
                }
            }
            long long wait = a.query ? o.timeoutMs : std::min(kSettleMs, o.timeoutMs);
            // Holding a button does not wait for acknowledgements.
            if (!a.query && k + 1 < o.repeat) wait = std::max(0LL, std::min(wait, due + o.intervalMs - line_.now()));
            const Exchange x = exchange(a, wait);
            if (!report(a, x, o)) return kOutputLost;
            if (x.status != kDone) return x.status;
        }
    }
    return kDone;
}

int runOn(const std::function<std::unique_ptr<Line>()>& open, const std::string& device, const Options& o,
          std::ostream& out, std::ostream& err) {
    std::unique_ptr<Line> line;
    try {
        line = open();
    } catch (const platform::LineError& e) {
        err << "qelo-ctl: " << e.what() << '\n' << std::flush;
        if (o.json) {
            const std::string time = utcNow();
            for (const Action& a : o.actions)
                writeJson(out, {time, device, &a, nullptr, nullptr, nullptr, {}, nullptr, e.what()});
        }
        return outputWritten(out, err) ? kPortFailed : kOutputLost;
    }
    Runner runner(*line, out, err);
    return runner.run(o);
}

}  // namespace qelo::ctl
