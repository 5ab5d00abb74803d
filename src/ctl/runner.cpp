#include "ctl/runner.h"

#include <algorithm>
#include <ostream>

#include "link/protocol.h"
#include "seam/platform.h"

namespace qelo::ctl {

namespace {

constexpr std::string_view kAck = "\x06\r";

void hexEscape(std::string& out, unsigned value) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xf];
}

// Printable ASCII as itself, everything else escaped, so a line is ASCII
// whatever came.
void escapeByte(std::string& out, unsigned char c) {
    if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
    } else if (c == '\r') {
        out += "\\r";
    } else if (c == '\n') {
        out += "\\n";
    } else if (c < 0x20 || c >= 0x7f) {
        hexEscape(out, c);
    } else {
        out += static_cast<char>(c);
    }
}

// Bytes off the line: each byte is the character of the same number, so a
// reader gets back exactly what travelled.
std::string jsonBytes(std::string_view bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) escapeByte(out, c);
    return out + '"';
}

// Text the user wrote (a device path, an action name) is UTF-8; a byte that
// is not becomes U+FFFD rather than bad JSON.
std::string jsonText(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            escapeByte(out, c);
            ++i;
            continue;
        }
        const std::size_t extra = c >= 0xf0 && c < 0xf5 ? 3 : c >= 0xe0 && c < 0xf0 ? 2 : c >= 0xc2 && c < 0xe0 ? 1 : 0;
        unsigned cp = c & (0x3f >> extra);
        bool good = extra > 0 && i + extra < text.size();
        for (std::size_t k = 1; good && k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            good = (t & 0xc0) == 0x80;
            cp = (cp << 6) | (t & 0x3f);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        good = good && !(extra == 2 && cp < 0x800) && !(extra == 3 && (cp < 0x10000 || cp > 0x10ffff)) &&
               !(cp >= 0xd800 && cp < 0xe000);
        if (!good) {
            hexEscape(out, 0xfffd);
            ++i;
        } else {
            if (cp >= 0x10000) {
                hexEscape(out, 0xd800 + ((cp - 0x10000) >> 10));
                hexEscape(out, 0xdc00 + ((cp - 0x10000) & 0x3ff));
            } else {
                hexEscape(out, cp);
            }
            i += extra + 1;
        }
    }
    return out + '"';
}

}  // namespace

void writeJson(std::ostream& out, const JsonRecord& r) {
    auto bytesOrNull = [](const std::string* s) { return s ? jsonBytes(*s) : std::string("null"); };
    std::string line = "{\"device\":" + jsonText(r.device);
    line += ",\"action\":" + (r.action ? jsonText(r.action->name) : "null");
    line += ",\"code\":" + (r.action ? jsonText(r.action->code) : "null");
    line += ",\"sent\":" + bytesOrNull(r.sent);
    line += ",\"reply\":" + bytesOrNull(r.reply);
    line += ",\"words\":" + bytesOrNull(r.words);
    line += ",\"ms\":" + (r.ms ? std::to_string(*r.ms) : "null");
    line += r.error.empty() ? ",\"ok\":true}" : ",\"ok\":false,\"error\":" + jsonText(r.error) + "}";
    out << line << '\n' << std::flush;
}

std::optional<std::string> Runner::takeLine() {
    const auto cr = pending_.find(link::kCR);
    if (cr == std::string::npos) return std::nullopt;
    std::string line = pending_.substr(0, cr + 1);
    pending_.erase(0, cr + 1);
    return line;
}

std::optional<std::string> Runner::takeOverlong(const Options& o) {
    if (pending_.size() < kLongestReply) return std::nullopt;
    std::string head = pending_.substr(0, kLongestReply);
    showRxd(pending_, o);
    pending_.clear();
    return head;
}

void Runner::traffic(const char* direction, const std::string& rendered, const Options& o) {
    if (!o.watch) return;
    err_ << line_.stamp() << ' ' << direction << rendered << '\n' << std::flush;
}

void Runner::showRxd(const std::string& bytes, const Options& o) { traffic("RXD", link::render(bytes), o); }

void Runner::drain(long long until, const Options& o) {
    for (;;) {
        pending_ += line_.receive(until);
        while (auto l = takeLine()) {
            if (*l == kAck && acksOwed_ > 0) --acksOwed_;
            showRxd(*l, o);
        }
        takeOverlong(o);
        if (line_.now() >= until) break;
    }
}

std::optional<Runner::Reply> Runner::awaitReply(bool query, long long until, const Options& o) {
    for (bool first = true;; first = false) {
        if (!first) pending_ += line_.receive(until);
        while (auto l = takeLine()) {
            const bool ack = *l == kAck && acksOwed_ > 0;
            if (ack) --acksOwed_;
            showRxd(*l, o);
            // A late acknowledgement of an earlier command is not the answer.
            if (query && ack) continue;
            return Reply{*l, true, false, line_.now()};
        }
        if (auto head = takeOverlong(o)) return Reply{*head, false, true, line_.now()};
        if (!first && line_.now() >= until) break;
    }
    // An acknowledgement cut short may still be completed; leave it.
    if (!query || pending_.empty()) return std::nullopt;
    Reply partial{pending_, false, false, line_.now()};
    pending_.clear();
    showRxd(partial.bytes, o);
    return partial;
}

void Runner::sendOnce(const Action& a, const Options& o) {
    // What is left over belongs to no reply: a fragment in front of the
    // next answer would be read as part of it.
    if (!pending_.empty() && !(pending_ == kAck.substr(0, 1) && acksOwed_ > 0)) {
        showRxd(pending_, o);
        pending_.clear();
    }
    const std::string f = link::frame(a.code);
    line_.send(f);
    traffic("TXD", link::render(f), o);
    if (!a.query) ++acksOwed_;
}

int Runner::run(const Options& o) {
    const Action* current = nullptr;
    std::string sent;
    auto fault = [&](const std::string& why, const std::string* reply, std::optional<long long> ms) {
        err_ << "qelo-ctl: " << why << '\n' << std::flush;
        if (o.json) writeJson(out_, {line_.device(), current, sent.empty() ? nullptr : &sent, reply, nullptr, ms, why});
    };
    try {
        for (const Action& a : o.actions) {
            current = &a;
            long long due = line_.now();
            for (int k = 0; k < o.repeat; ++k) {
                sent.clear();
                if (k > 0) {
                    // Missed ticks are dropped, not bunched, as the panel's timers do.
                    due = std::max(due + o.intervalMs, line_.now());
                }
                drain(due, o);
                sendOnce(a, o);
                sent = link::frame(a.code);
                const long long at = line_.now();
                const bool last = k + 1 == o.repeat;
                long long until = at + (a.query ? o.timeoutMs : std::min(kSettleMs, o.timeoutMs));
                // Holding a button does not wait for acknowledgements.
                if (!a.query && !last) until = std::min(until, due + o.intervalMs);
                const auto reply = awaitReply(a.query, until, o);

                if (a.query && !reply) {
                    traffic("RXD", link::kTimeoutMark, o);
                    fault("no reply to \"" + a.name + "\" (" + a.code + ") within " + std::to_string(o.timeoutMs) +
                              " ms on " + line_.device(),
                          nullptr, std::nullopt);
                    return kNoReply;
                }
                if (reply && reply->overlong) {
                    // The line no longer keeps to frames; nothing after this could be trusted.
                    fault("the reply to \"" + a.name + "\" (" + a.code + ") on " + line_.device() + " ran past " +
                              std::to_string(kLongestReply) + " bytes without a CR",
                          &reply->bytes, reply->at - at);
                    return kNoReply;
                }
                const std::string rendered = reply ? link::render(reply->bytes) : std::string();
                std::optional<std::string> words;
                if (a.query) {
                    words = link::decode(link::frame(a.code), rendered);
                    if (words && words->starts_with(' ')) words->erase(0, 1);
                }
                if (o.json) {
                    writeJson(out_, {line_.device(), &a, &sent, reply ? &reply->bytes : nullptr,
                                     words ? &*words : nullptr,
                                     reply ? std::optional<long long>(reply->at - at) : std::nullopt, {}});
                    continue;
                }
                if (!reply) continue;
                if (o.raw)
                    out_ << rendered << '\n';
                else if (a.query)
                    out_ << words.value_or(rendered) << '\n';
                out_ << std::flush;
            }
        }
    } catch (const platform::SerialError& e) {
        // What came before the line went is still what it said.
        fault(e.what(), pending_.empty() ? nullptr : &pending_, std::nullopt);
        return kPortFailed;
    }
    return kDone;
}

int runOn(const std::function<std::unique_ptr<Line>()>& open, const std::string& device, const Options& o,
          std::ostream& out, std::ostream& err) {
    std::unique_ptr<Line> line;
    try {
        line = open();
    } catch (const platform::SerialError& e) {
        err << "qelo-ctl: " << e.what() << '\n' << std::flush;
        if (o.json)
            for (const Action& a : o.actions) writeJson(out, {device, &a, nullptr, nullptr, nullptr, {}, e.what()});
        return kPortFailed;
    }
    Runner runner(*line, out, err);
    return runner.run(o);
}

}  // namespace qelo::ctl
