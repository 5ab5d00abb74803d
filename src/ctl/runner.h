#pragma once
// Runs qelo-ctl's actions over a line: sends, paces repeats, gathers and
// prints replies. The line and the clock come in through Line, so the whole
// run can be driven by a script of arrivals in tests.

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ctl/cli.h"
#include "ctl/escape.h"

namespace qelo::ctl {

class Line {
public:
    virtual ~Line() = default;
    // Writes a whole frame; throws platform::LineError when it cannot.
    virtual void send(const std::string& bytes) = 0;
    // What has arrived, waiting until something does or until the time
    // `until` (ms on now()'s clock); empty when nothing came. Throws
    // platform::LineError when the line is gone.
    virtual std::string receive(long long until) = 0;
    // Milliseconds since some fixed start.
    virtual long long now() = 0;
    // The time stamp of a traffic line.
    virtual std::string stamp() = 0;
    // The device, for messages.
    virtual std::string device() const = 0;
    // How long the line must have been quiet before the first frame: a
    // server may greet whoever connects, and its greeting is no answer.
    virtual long long quietMs() const { return 0; }
};

// The time of a JSON line: now, ISO 8601 in UTC, to the millisecond.
std::string utcNow();

// A control command's acknowledgement is awaited this long at most: it only
// tells that the command arrived, and a script should not wait on it.
inline constexpr int kSettleMs = 100;

// A server may greet whoever connects (ser2net's banner comes within a few
// ms on loopback): a TCP line must be quiet this long before the first frame.
inline constexpr int kQuietMs = 100;

// An answer is a few bytes; this many without a CR is not one, and waiting
// for its end would let a babbling line fill the memory. The CR counts.
inline constexpr std::size_t kLongestReply = 256;

// What one frame got: the answer and whether it was one.
struct Exchange {
    int status = kDone;
    std::string sent;                   // the frame; empty when it never went out
    std::optional<std::string> reply;   // the answer up to its CR, or what came without one
    std::optional<std::string> words;   // a query's answer in words
    std::optional<long long> ms;        // from the send to the answer
    std::optional<std::string> discarded;  // what was set aside before the frame went out
    std::string error;                  // why it failed; empty when status is kDone
};

// One conversation at a time on one line: before a frame is written,
// whatever waits is set aside, and the answer is what comes after it.
class Runner {
public:
    // Replies go to out, traffic lines and failures to err.
    Runner(Line& line, std::ostream& out, std::ostream& err) : line_(line), out_(out), err_(err) {}

    // Sends every action of o in order, each o.repeat times; the exit status.
    int run(const Options& o);

    // Shows the traffic on err while true.
    // Takes in and sets aside what arrives until the line has been quiet for
    // quietMs, or until `until` at the latest.
    void settle(long long quietMs, long long until);
    // Takes in and sets aside what arrives until `until`.
    void idle(long long until) { settle(0, until); }
    // Writes a's frame and awaits its answer for waitMs. A control command
    // needs none; what does come must be ACK.
    Exchange exchange(const Action& a, long long waitMs);

private:
    struct Answer {
        std::string bytes;
        bool complete = false;  // ends in CR
    };
    void takeIn(long long until);
    void setAsideLines();
    void setAside(std::string_view bytes);
    void dropFragment();
    std::optional<Answer> takeAnswer(bool query);
    void check(const Action& a, const Answer& got, Exchange& x);
    void showRxd(std::string_view bytes);
    void traffic(const char* direction, const std::string& rendered);
    void lost(const std::string& why, Exchange& x);
    // Prints x as o asks; false when the output could not be written.
    bool report(const Action& a, const Exchange& x, const Options& o);

    Line& line_;
    std::ostream& out_;
    std::ostream& err_;
    bool watch_ = false;
    std::string buf_;       // received; what lies before head_ is accounted for
    std::size_t head_ = 0;
    std::string discarded_;  // set aside since the last frame, its first kLongestReply bytes
    long acksOwed_ = 0;      // control commands whose acknowledgement is still to come
};

// Whether out took what was written to it; if not, says so on err. A
// record nobody can read must not pass for a run that went well.
bool outputWritten(std::ostream& out, std::ostream& err);

// One --json line: the device, the action, what was sent and what came back.
struct JsonRecord {
    std::string time;
    std::string device;
    const Action* action = nullptr;
    const std::string* sent = nullptr;
    const std::string* reply = nullptr;
    const std::string* words = nullptr;
    std::optional<long long> ms;
    const std::string* discarded = nullptr;
    std::string error;  // empty: ok
};
void writeJson(std::ostream& out, const JsonRecord& r);

// Opens the line with open() and runs o on it. A line that cannot be opened
// is reported on err (and, with --json, on out for every action) and gives
// kPortFailed.
int runOn(const std::function<std::unique_ptr<Line>()>& open, const std::string& device, const Options& o,
          std::ostream& out, std::ostream& err);

}  // namespace qelo::ctl
