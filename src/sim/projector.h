#pragma once
// The simulated projector's side of the line: a state machine fed with the
// bytes that arrive and the time they arrive at, handing back the bytes it
// wants to send and the time they are due. It owns no clock and does no I/O,
// so every timing can be driven step by step.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/protocol.h"

namespace qelo::sim {

// Time since an arbitrary origin chosen by whoever drives the machine.
using Time = std::chrono::microseconds;
using Millis = std::chrono::milliseconds;

// The acknowledgement of a control command that was carried out.
using link::kAck;

struct Settings {
    int baud = 19200;
    Millis replyDelay{10};
    Millis countdown{10000};
    Millis cooldown{10000};
    double lampHours = 0;   // at start
    double timeScale = 1;   // lamp hours run this many times faster than real time
    std::string state = "80";
    char mode = '1';
    std::string reversal = "11";
    std::uint32_t seed = 1;  // for garbage
};

struct Faults {
    bool silent = false;
    bool garbage = false;
    Millis split{0};    // gap between the bytes of one answer; 0 = off
    Millis chatter{0};  // period of unasked talk; 0 = off
    long hangupAfter = 0;  // hang up on receiving this many frames; 0 = never
};

struct Counters {
    long frames = 0;     // well-formed: three printable characters and CR
    long malformed = 0;  // anything else ending in CR
    long answers = 0;    // answers whose last byte has gone out
    long unasked = 0;    // chatter whose last byte has gone out
    long dropped = 0;    // answers lost because too many were waiting
};

struct LogEntry {
    Time at;
    std::string text;
};

class Projector {
public:
    explicit Projector(Settings settings = {}, Faults faults = {}, Time start = Time{0});

    // Bytes that came in from the line at `now`.
    void receive(Time now, std::string_view bytes);
    // The bytes due by `now`, in order; each is due no earlier than the
    // line, at its baud rate, can take it.
    std::string transmit(Time now);
    // When something next wants to happen (a byte, a state change, chatter).
    std::optional<Time> nextDue() const;
    // Runs the timed state changes up to `now`; receive and transmit do it too.
    void advance(Time now);

    // Log lines since the last call, oldest first.
    std::vector<LogEntry> takeLog();

    // Run-time switches. Each takes effect from `now`.
    void setSilent(Time now, bool on);
    void setGarbage(Time now, bool on);
    void setSplit(Time now, Millis gap);
    void setChatter(Time now, Millis period);
    void setHangupAfter(Time now, long frames);
    void setReplyDelay(Time now, Millis delay);
    void hangUp(Time now);
    // The far end of the line went away (a TCP client left): what waits for
    // it is not sent, half a frame is forgotten, and nothing is queued until
    // connect(). Returns how many answers and unasked talk were not sent.
    std::size_t disconnect(Time now);
    void connect(Time now);
    // False when the code is not a state the projector can report.
    bool forceState(Time now, std::string_view code);
    bool setMode(Time now, char mode);
    bool setReversal(Time now, std::string_view code);
    void setLampHours(Time now, double hours);

    bool hungUp() const { return hungUp_; }
    bool connected() const { return connected_; }
    const std::string& state() const { return state_; }
    char mode() const { return mode_; }
    const std::string& reversal() const { return reversal_; }
    double lampHours(Time now) const;
    const Faults& faults() const { return faults_; }
    const Counters& counters() const { return counters_; }
    std::size_t waitingAnswers() const { return out_.size(); }

    // What the projector would answer to a query code now, CR included;
    // empty for a code that is no query.
    std::string answerTo(std::string_view query, Time now) const;

    static bool validState(std::string_view code);
    static bool validMode(char mode);
    static bool validReversal(std::string_view code);

    // At most this many answers wait for the line; more are dropped.
    static constexpr std::size_t kMaxWaiting = 64;

private:
    enum class Kind { Answer, Unasked };
    struct Pending {
        std::string bytes;
        Time due;
        Kind kind;
        std::string what;
        std::size_t sent = 0;
    };

    void handleFrame(Time now, const std::string& frame);
    void handleControl(Time now, const std::string& code);
    void queue(Time now, std::string bytes, Kind kind, std::string what);
    void enter(Time now, std::string_view code);
    bool lampOn() const;
    bool busy() const;
    std::optional<Time> nextByteAt() const;
    std::string garbage();
    void log(Time at, std::string text);

    Settings settings_;
    Faults faults_;
    Counters counters_;
    Time byteTime_;

    std::string state_;
    char mode_;
    std::string reversal_;
    std::optional<Time> stateEndsAt_;  // end of a count-down or a cooling
    double lampHoursBase_;
    Time lampSince_{0};  // while the lamp is on, when the hours were last banked

    std::optional<Time> chatterAt_;
    long hangupAtFrames_ = 0;  // the frame count that hangs up; 0 = never
    bool hungUp_ = false;
    bool connected_ = true;

    // The frame being gathered: its first bytes and its length so far.
    std::string partial_;
    std::size_t partialLength_ = 0;

    std::deque<Pending> out_;
    std::optional<Time> lastByteAt_;
    Time now_;
    std::uint32_t rng_;

    std::vector<LogEntry> log_;
};

// The log form of bytes: printable ASCII as it is, the rest escaped (\r, \n,
// \xNN), in double quotes; long texts are cut with "...".
std::string quoted(std::string_view bytes);

}  // namespace qelo::sim
