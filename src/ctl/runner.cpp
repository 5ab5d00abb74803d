#include "ctl/runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "link/answer.h"
#include "link/protocol.h"
#include "ctl/escape.h"
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

void Runner::traffic(const char* direction, const std::string& rendered) {
    watcher_.traffic(line_.stamp(), direction, rendered);
}

void Runner::showRxd(std::string_view bytes) {
    if (watcher_.watching()) traffic("RXD", link::render(bytes));
}

void Runner::setAside(std::string_view bytes) {
    showRxd(bytes);
    if (discarded_.size() < kLongestReply) discarded_.append(bytes.substr(0, kLongestReply - discarded_.size()));
}

Task<void> Runner::takeIn(long long until) {
    // Accounted-for bytes go once they are half the buffer: each byte is
    // moved a bounded number of times, however the line delivers them.
    if (head_ == buf_.size()) {
        buf_.clear();
        head_ = 0;
    } else if (head_ > buf_.size() / 2) {
        buf_.erase(0, head_);
        head_ = 0;
    }
    buf_ += co_await line_.receive(until);
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

Task<void> Runner::settle(long long quietMs, long long until) {
    long long last = line_.now();
    for (;;) {
        const long long end = quietMs > 0 ? std::min(until, last + quietMs) : until;
        if (line_.now() >= end) break;
        const std::size_t before = buf_.size() - head_;
        co_await takeIn(end);
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
        return;
    }
    if (!got.complete) {
        // A control command need not be answered; what came instead is told, not taken.
        if (!a.query) return;
        x.status = kNoReply;
        x.error = "the reply to " + what + " had no CR by the time-out: " + quoteBytes(got.bytes);
        return;
    }
    const link::Answer meaning = link::readAnswer(a.code, got.bytes);
    if (!meaning.fits) {
        x.status = kUnexpected;
        x.error = "unexpected answer to " + what + ": " + quoteBytes(got.bytes) + ", expected " +
                  link::expectedAnswer(a.code);
    } else if (meaning.word) {
        x.words = meaning.word->words;
    } else if (meaning.hours) {
        x.hours = meaning.hours;
        x.words = std::to_string(*meaning.hours);
    }
    if (!a.query) x.acknowledged = meaning.acknowledged;
}

Task<Exchange> Runner::exchange(const Action& a, long long waitMs, bool requireAck, bool heldOn) {
    Exchange x;
    const long long until = line_.now() + waitMs;
    try {
        co_await takeIn(line_.now());
        setAsideLines();
        dropFragment();
        if (!discarded_.empty()) x.discarded = std::exchange(discarded_, {});
        const std::string f = link::frame(a.code);
        line_.send(f);
        x.sent = f;
        const long long at = line_.now();
        if (watcher_.watching()) traffic("TXD", link::render(f));
        if (!a.query) ++acksOwed_;
        std::optional<Answer> got = takeAnswer(a.query);
        while (!got && line_.now() < until) {
            co_await takeIn(until);
            got = takeAnswer(a.query);
        }
        // What came without its CR is the whole of what there is; an
        // acknowledgement cut short may still be completed.
        const std::string_view rest = std::string_view(buf_).substr(head_);
        if (!got && !rest.empty() && (a.query || rest != kAck.substr(0, 1))) {
            got = Answer{std::string(rest), false};
            head_ = buf_.size();
            showRxd(got->bytes);
        }
        if (!got && a.query) {
            if (watcher_.watching()) traffic("RXD", link::kTimeoutMark);
            x.status = kNoReply;
            x.error = "no reply to \"" + a.name + "\" (" + a.code + ") within " + std::to_string(waitMs) + " ms on " +
                      line_.device();
        }
        if (got) {
            x.reply = got->bytes;
            x.ms = line_.now() - at;
            check(a, *got, x);
        }
        // A hold does not wait for each frame's acknowledgement: only the
        // last frame's is awaited, and stands for the hold.
        if (!a.query && !x.acknowledged && !heldOn) x.acknowledged = false;
        if (heldOn && x.acknowledged == false) x.acknowledged.reset();
        if (x.status == kDone && !a.query && x.acknowledged == false) {
            const std::string why = "no acknowledgement of \"" + a.name + "\" (" + a.code + ") within " +
                                    std::to_string(waitMs) + " ms on " + line_.device() +
                                    (x.reply ? ", only " + quoteBytes(*x.reply) : std::string());
            if (requireAck) {
                x.status = kNoReply;
                x.error = why;
            } else {
                x.note = why;
            }
        }
        // Something else followed by a hang-up is the server's last word, not an answer.
        if (x.status != kDone) co_await takeIn(line_.now());
    } catch (const platform::LineError& e) {
        lost(e.what(), x);
    }
    co_return x;
}

Task<int> Runner::run(const Options& o, bool fresh) {
    try {
        if (fresh && line_.quietMs() > 0) co_await settle(line_.quietMs(), line_.now() + o.timeoutMs);
    } catch (const platform::LineError& e) {
        Exchange x;
        lost(e.what(), x);
        if (!o.actions.empty() && !watcher_.exchanged(o.actions.front(), x)) co_return kOutputLost;
        co_return kPortFailed;
    }
    for (const Action& a : o.actions) {
        long long due = line_.now();
        for (int k = 0; k < o.repeat; ++k) {
            if (k > 0) {
                // Missed ticks are dropped, not bunched, as the panel's timers do.
                due = std::max(due + o.intervalMs, line_.now());
                std::optional<Exchange> failed;
                try {
                    co_await idle(due);
                } catch (const platform::LineError& e) {
                    failed.emplace();
                    lost(e.what(), *failed);
                }
                if (failed) co_return watcher_.exchanged(a, *failed) ? kPortFailed : kOutputLost;
            }
            long long wait = a.query ? o.timeoutMs : std::min(kSettleMs, o.timeoutMs);
            // Holding a button does not wait for acknowledgements.
            if (!a.query && k + 1 < o.repeat) wait = std::max(0LL, std::min(wait, due + o.intervalMs - line_.now()));
            const Exchange x = co_await exchange(a, wait, o.requireAck, !a.query && k + 1 < o.repeat);
            if (!watcher_.exchanged(a, x)) co_return kOutputLost;
            if (x.status != kDone) co_return x.status;
        }
    }
    co_return kDone;
}

bool Keeper::exchanged(const Action& a, const Exchange& x) {
    conversation.exchanges.emplace_back(a, x);
    if (x.status != kDone) {
        conversation.status = x.status;
        conversation.error = x.error;
    }
    return true;
}

}  // namespace qelo::ctl
