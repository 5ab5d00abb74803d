#pragma once
// One conversation at a time on one line: qelo-ctl's actions sent, repeats
// paced, answers gathered and read. What happened comes back as values
// (Exchange), told to a Watcher as it happens; printing it is the program's
// (report.h). The line and the clock come in through Line, so the whole run
// can be driven by a script of arrivals in tests.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ctl/cli.h"
#include "ctl/task.h"

namespace qelo::ctl {

class Line {
public:
    virtual ~Line() = default;
    // Writes a whole frame; throws platform::LineError when it cannot.
    virtual void send(const std::string& bytes) = 0;
    // What has arrived: at once when something has or the time `until` (ms
    // on now()'s clock) has come, else when something comes or it does;
    // empty when nothing came. Throws platform::LineError when the line is
    // gone.
    virtual Task<std::string> receive(long long until) = 0;
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

// What one frame got: the answer, what it means, and whether it was one.
struct Exchange {
    int status = kDone;
    std::string sent;                      // the frame; empty when it never went out
    std::optional<std::string> reply;      // the answer up to its CR, or what came without one
    std::optional<std::string> words;      // a query's answer in words ("Stand by", "123")
    std::optional<long long> hours;        // L-TIME's answer
    std::optional<bool> acknowledged;      // a control command's ACK came; unknown for a hold's frames but the last
    std::optional<long long> ms;           // from the send to the answer
    std::optional<std::string> discarded;  // what was set aside before the frame went out
    std::string error;                     // why it failed; empty when status is kDone
    std::string note;                      // worth a word though nothing failed
};

// What a run tells as it goes.
class Watcher {
public:
    virtual ~Watcher() = default;
    // Every piece of traffic, rendered as the panel's traffic lines show it;
    // only while watching() is true.
    virtual bool watching() const { return false; }
    virtual void traffic(const std::string& stamp, const char* direction, const std::string& rendered) {
        (void)stamp, (void)direction, (void)rendered;
    }
    // Each frame's exchange as it ends; false ends the run with kOutputLost.
    virtual bool exchanged(const Action& a, const Exchange& x) = 0;
};

class Runner {
public:
    Runner(Line& line, Watcher& watcher) : line_(line), watcher_(watcher) {}

    // Sends every action of o in order, each o.repeat times; the exit status.
    // On a fresh line the first frame waits for the server's greeting to end.
    Task<int> run(const Options& o, bool fresh = true);

    // Takes in and sets aside what arrives until the line has been quiet for
    // quietMs, or until `until` at the latest.
    Task<void> settle(long long quietMs, long long until);
    // Takes in and sets aside what arrives until `until`.
    Task<void> idle(long long until) { return settle(0, until); }
    // Writes a's frame and awaits its answer for waitMs. A control command
    // needs none; what does come must be ACK. A frame of a hold that goes
    // on (heldOn) is not judged by its acknowledgement: the last one is.
    Task<Exchange> exchange(const Action& a, long long waitMs, bool requireAck = false, bool heldOn = false);

private:
    struct Answer {
        std::string bytes;
        bool complete = false;  // ends in CR
    };
    Task<void> takeIn(long long until);
    void setAsideLines();
    void setAside(std::string_view bytes);
    void dropFragment();
    std::optional<Answer> takeAnswer(bool query);
    void check(const Action& a, const Answer& got, Exchange& x);
    void showRxd(std::string_view bytes);
    void traffic(const char* direction, const std::string& rendered);
    void lost(const std::string& why, Exchange& x);

    Line& line_;
    Watcher& watcher_;
    std::string buf_;  // received; what lies before head_ is accounted for
    std::size_t head_ = 0;
    std::string discarded_;  // set aside since the last frame, its first kLongestReply bytes
    long acksOwed_ = 0;      // control commands whose acknowledgement is still to come
};

// A whole run's exchanges kept, for whoever takes them as values.
struct Conversation {
    int status = kDone;
    std::vector<std::pair<Action, Exchange>> exchanges;
    std::string error;  // the last failure, when there was one
    std::string time;   // when it ended, ISO 8601 UTC, for whoever records it
};

class Keeper : public Watcher {
public:
    bool exchanged(const Action& a, const Exchange& x) override;
    Conversation conversation;
};

}  // namespace qelo::ctl
