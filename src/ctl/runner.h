#pragma once
// Runs qelo-ctl's actions over a line: sends, paces repeats, gathers and
// prints replies. The line and the clock come in through Line, so the whole
// run can be driven by a script of arrivals in tests.

#include <iosfwd>
#include <optional>
#include <string>

#include "ctl/cli.h"

namespace qelo::ctl {

class Line {
public:
    virtual ~Line() = default;
    // Writes a whole frame; throws platform::SerialError when it cannot.
    virtual void send(const std::string& bytes) = 0;
    // What has arrived, waiting until something does or until the time
    // `until` (ms on now()'s clock); empty when nothing came. Throws
    // platform::SerialError when the line is gone.
    virtual std::string receive(long long until) = 0;
    // Milliseconds since some fixed start.
    virtual long long now() = 0;
    // The time stamp of a traffic line.
    virtual std::string stamp() = 0;
    // The device, for messages.
    virtual std::string device() const = 0;
};

// A control command's acknowledgement is awaited this long at most: it only
// tells that the command arrived, and a script should not wait on it.
inline constexpr int kSettleMs = 100;

class Runner {
public:
    // Replies go to out, traffic lines and failures to err.
    Runner(Line& line, std::ostream& out, std::ostream& err) : line_(line), out_(out), err_(err) {}

    // Sends every action of o in order, each o.repeat times; the exit status.
    int run(const Options& o);

private:
    struct Reply {
        std::string bytes;  // up to and including the first CR, or all that came
        bool complete = false;
    };

    void sendOnce(const Action& a, const Options& o);
    // Takes in what has arrived by `until`, showing and counting it.
    void drain(long long until, const Options& o);
    // The reply to the frame just sent, gathered until its CR or `until`.
    std::optional<Reply> awaitReply(bool query, long long until, const Options& o);
    std::optional<std::string> takeLine();
    void showRxd(const std::string& bytes, const Options& o);
    void traffic(const char* direction, const std::string& rendered, const Options& o);

    Line& line_;
    std::ostream& out_;
    std::ostream& err_;
    std::string pending_;  // received and not yet accounted for
    long acksOwed_ = 0;    // control commands whose acknowledgement is still to come
};

}  // namespace qelo::ctl
