#pragma once
// Runs qelo-ctl's actions over a line: sends, paces repeats, gathers and
// prints replies. The line and the clock come in through Line, so the whole
// run can be driven by a script of arrivals in tests.

#include <functional>
#include <iosfwd>
#include <memory>
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

// An answer is a few bytes; this many without a CR is not one, and waiting
// for its end would let a babbling line fill the memory.
inline constexpr std::size_t kLongestReply = 256;

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
        bool overlong = false;  // kLongestReply bytes came without a CR
        long long at = 0;       // when it was complete, on the line's clock
    };

    void sendOnce(const Action& a, const Options& o);
    // Takes in what has arrived by `until`, showing and counting it.
    void drain(long long until, const Options& o);
    // The reply to the frame just sent, gathered until its CR or `until`.
    std::optional<Reply> awaitReply(bool query, long long until, const Options& o);
    std::optional<std::string> takeLine();
    void showRxd(const std::string& bytes, const Options& o);
    void traffic(const char* direction, const std::string& rendered, const Options& o);
    // Too much without a CR: it goes, shown, so the next answer starts clean.
    std::optional<std::string> takeOverlong(const Options& o);

    Line& line_;
    std::ostream& out_;
    std::ostream& err_;
    std::string pending_;  // received and not yet accounted for
    long acksOwed_ = 0;    // control commands whose acknowledgement is still to come
};

// One --json line: the device, the action, what was sent and what came back.
struct JsonRecord {
    std::string device;
    const Action* action = nullptr;
    const std::string* sent = nullptr;
    const std::string* reply = nullptr;
    const std::string* words = nullptr;
    std::optional<long long> ms;
    std::string error;  // empty: ok
};
void writeJson(std::ostream& out, const JsonRecord& r);

// Opens the line with open() and runs o on it. A line that cannot be opened
// is reported on err (and, with --json, on out for every action) and gives
// kPortFailed.
int runOn(const std::function<std::unique_ptr<Line>()>& open, const std::string& device, const Options& o,
          std::ostream& out, std::ostream& err);

}  // namespace qelo::ctl
