#pragma once
// The projector's end of the cable, watched from a thread of its own.
//
// A pseudo-terminal whose slave the panel opens as its COM1. A thread waits
// on the master and stamps every frame (bytes up to CR) the moment it can be
// read, without going through the panel's event loop. The same thread can
// answer frames after a delay, pour bytes at the panel as fast as the line
// takes them, or relay everything to and from another device (the simulated
// projector's pseudo-terminal), so that the simulator counts what it got.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qelo::bench {

struct WireFrame {
    std::string text;   // without the CR
    std::int64_t ns;    // when its CR became readable
};

struct Answer {
    std::string bytes;
    int delayUs = 0;    // from the frame's arrival
};

class FarEnd {
public:
    FarEnd();
    ~FarEnd();
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    const std::string& path() const { return path_; }

    // Called on the watching thread for each frame from the panel; what it
    // returns is written back after the delay. Set it while nothing flows.
    void answerWith(std::function<std::optional<Answer>(const WireFrame&)> answer);
    // Everything from the panel goes to fd and everything from fd to the
    // panel; -1 stops relaying. The caller keeps fd open until then.
    void relayTo(int fd);

    // Queued for the panel, written as fast as the line takes it.
    void pour(std::string bytes);
    // Written one byte every intervalUs, as a UART hands bytes over.
    void trickle(const std::string& bytes, int intervalUs);
    bool drained() const;

    std::size_t frameCount() const;
    std::vector<WireFrame> framesFrom(std::size_t first) const;
    // When each scheduled answer had been written completely.
    std::vector<std::int64_t> answerTimes() const;
    std::uint64_t bytesToPanel() const { return toPanel_.load(); }
    std::uint64_t bytesFromPanel() const { return fromPanel_.load(); }

private:
    void run();
    void wake() const;
    void fromPanel(const char* data, std::size_t n, std::int64_t at);

    int master_ = -1;
    int slave_ = -1;    // kept open so the line survives the panel's reopening
    int wake_[2] = {-1, -1};
    std::string path_;
    std::atomic<bool> stop_{false};
    std::atomic<int> relay_{-1};
    std::atomic<int> usedRelay_{-1};  // the relay the thread polls with
    std::atomic<std::uint64_t> toPanel_{0};
    std::atomic<std::uint64_t> fromPanel_{0};

    mutable std::mutex mutex_;
    std::function<std::optional<Answer>(const WireFrame&)> answer_;
    std::string partial_;
    std::vector<WireFrame> frames_;
    std::deque<std::pair<std::int64_t, std::string>> scheduled_;  // due time, bytes
    std::vector<std::int64_t> answerTimes_;
    std::string out_;          // bytes on their way to the panel
    std::size_t answerBytesLeft_ = 0;  // of out_, still part of the oldest answer
    std::thread thread_;
};

// Resident set size of a process in kB (0: self), from /proc.
long residentKb(int pid = 0);

}  // namespace qelo::bench
