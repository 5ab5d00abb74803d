#include "ctl/runner.h"

#include <algorithm>
#include <ostream>

#include "link/protocol.h"
#include "platform/platform.h"

namespace qelo::ctl {

namespace {

constexpr std::string_view kAck = "\x06\r";

}  // namespace

std::optional<std::string> Runner::takeLine() {
    const auto cr = pending_.find(link::kCR);
    if (cr == std::string::npos) return std::nullopt;
    std::string line = pending_.substr(0, cr + 1);
    pending_.erase(0, cr + 1);
    return line;
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
            return Reply{*l, true};
        }
        if (!first && line_.now() >= until) break;
    }
    // An acknowledgement cut short may still be completed; leave it.
    if (!query || pending_.empty()) return std::nullopt;
    Reply partial{pending_, false};
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
    try {
        for (const Action& a : o.actions) {
            long long due = line_.now();
            for (int k = 0; k < o.repeat; ++k) {
                if (k > 0) {
                    // Missed ticks are dropped, not bunched, as the panel's timers do.
                    due = std::max(due + o.intervalMs, line_.now());
                }
                drain(due, o);
                sendOnce(a, o);
                const long long sent = line_.now();
                const bool last = k + 1 == o.repeat;
                long long until = sent + (a.query ? o.timeoutMs : std::min(kSettleMs, o.timeoutMs));
                // Holding a button does not wait for acknowledgements.
                if (!a.query && !last) until = std::min(until, due + o.intervalMs);
                const auto reply = awaitReply(a.query, until, o);

                if (a.query && !reply) {
                    traffic("RXD", link::kTimeoutMark, o);
                    err_ << "qelo-ctl: no reply to \"" << a.name << "\" (" << a.code << ") within "
                         << o.timeoutMs << " ms on " << line_.device() << '\n'
                         << std::flush;
                    return kNoReply;
                }
                if (!reply) continue;
                const std::string rendered = link::render(reply->bytes);
                if (o.raw) {
                    out_ << rendered << '\n';
                } else if (a.query) {
                    const auto words = link::decode(link::frame(a.code), rendered);
                    out_ << (words ? words->substr(words->starts_with(' ') ? 1 : 0) : rendered) << '\n';
                }
                out_ << std::flush;
            }
        }
    } catch (const platform::SerialError& e) {
        err_ << "qelo-ctl: " << e.what() << '\n' << std::flush;
        return kPortFailed;
    }
    return kDone;
}

}  // namespace qelo::ctl
