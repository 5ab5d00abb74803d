#include "harness/far_end.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <stdexcept>

#include "harness/stats.h"

namespace qelo::bench {

namespace {
void nonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
}
}  // namespace

FarEnd::FarEnd() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    path_ = name;
    // Neither side may echo or translate: the panel would read its own frames.
    makeRaw(master_);
    makeRaw(slave_);
    nonBlocking(master_);
    if (pipe(wake_) != 0) throw std::runtime_error("pipe failed");
    nonBlocking(wake_[0]);
    nonBlocking(wake_[1]);
    thread_ = std::thread([this] { run(); });
}

FarEnd::~FarEnd() {
    stop_ = true;
    wake();
    thread_.join();
    for (int fd : {master_, slave_, wake_[0], wake_[1]})
        if (fd >= 0) ::close(fd);
}

void FarEnd::wake() const {
    const char c = 0;
    [[maybe_unused]] auto n = ::write(wake_[1], &c, 1);
}

void FarEnd::answerWith(std::function<std::optional<Answer>(const WireFrame&)> answer) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
}

void FarEnd::relayTo(int fd) {
    relay_ = fd;
    wake();
    // Returns once the thread has taken it: no byte goes to an fd the caller
    // is about to close, and none misses one it has just given.
    for (int i = 0; i < 2000 && usedRelay_.load() != fd; ++i) usleep(50);
}

void FarEnd::pour(std::string bytes) {
    {
        std::lock_guard lock(mutex_);
        out_ += bytes;
    }
    wake();
}

void FarEnd::trickle(const std::string& bytes, int intervalUs) {
    {
        std::lock_guard lock(mutex_);
        const std::int64_t t0 = std::max(nowNs(), scheduled_.empty() ? 0 : scheduled_.back().first);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            scheduled_.emplace_back(t0 + static_cast<std::int64_t>(i) * intervalUs * 1000, bytes.substr(i, 1));
    }
    wake();
}

bool FarEnd::drained() const {
    std::lock_guard lock(mutex_);
    return out_.empty() && scheduled_.empty();
}

std::size_t FarEnd::frameCount() const {
    std::lock_guard lock(mutex_);
    return frames_.size();
}

std::vector<WireFrame> FarEnd::framesFrom(std::size_t first) const {
    std::lock_guard lock(mutex_);
    if (first >= frames_.size()) return {};
    return {frames_.begin() + static_cast<std::ptrdiff_t>(first), frames_.end()};
}

std::vector<std::int64_t> FarEnd::answerTimes() const {
    std::lock_guard lock(mutex_);
    return answerTimes_;
}

void FarEnd::fromPanel(const char* data, std::size_t n, std::int64_t at) {
    fromPanel_ += n;
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < n; ++i) {
        if (data[i] != '\r') {
            partial_ += data[i];
            continue;
        }
        frames_.push_back({partial_, at});
        partial_.clear();
        if (!answer_) continue;
        if (auto a = answer_(frames_.back())) {
            const std::int64_t due = at + std::int64_t{a->delayUs} * 1000;
            // Answers keep their order, as on a real line.
            const std::int64_t after = scheduled_.empty() ? due : std::max(due, scheduled_.back().first);
            scheduled_.emplace_back(after, std::move(a->bytes));
        }
    }
}

void FarEnd::run() {
    char buf[4096];
    while (!stop_) {
        std::int64_t timeoutNs = 100'000'000;
        bool wantOut = false;
        {
            std::lock_guard lock(mutex_);
            const std::int64_t now = nowNs();
            // One answer at a time, so that each is stamped when its own
            // last byte has been written.
            if (!scheduled_.empty() && scheduled_.front().first <= now && out_.empty()) {
                out_ = std::move(scheduled_.front().second);
                answerBytesLeft_ = out_.size();
                scheduled_.pop_front();
            }
            if (!scheduled_.empty()) timeoutNs = std::clamp<std::int64_t>(scheduled_.front().first - now, 0, timeoutNs);
            wantOut = !out_.empty();
        }
        const int relay = relay_.load();
        usedRelay_ = relay;
        pollfd p[3] = {{master_, static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0},
                       {wake_[0], POLLIN, 0},
                       {relay, POLLIN, 0}};
        // Nanosecond time-out: an answer due in 300 us must not wait a whole ms.
        const timespec timeout{static_cast<time_t>(timeoutNs / 1'000'000'000), static_cast<long>(timeoutNs % 1'000'000'000)};
        const int n = ::ppoll(p, relay >= 0 ? 3 : 2, &timeout, nullptr);
        if (n < 0 && errno != EINTR) break;
        if (p[1].revents & POLLIN) {
            while (::read(wake_[0], buf, sizeof buf) > 0) {
            }
            // A new relay: poll again with it before reading the panel.
            if (relay_.load() != relay) continue;
        }
        if (p[0].revents & POLLIN) {
            const ssize_t got = ::read(master_, buf, sizeof buf);
            const std::int64_t at = nowNs();
            if (got > 0) {
                fromPanel(buf, static_cast<std::size_t>(got), at);
                if (relay >= 0) {
                    // The simulator reads far faster than the panel writes.
                    for (ssize_t done = 0; done < got;) {
                        const ssize_t w = ::write(relay, buf + done, static_cast<std::size_t>(got - done));
                        if (w <= 0) break;
                        done += w;
                    }
                }
            }
        }
        if (relay >= 0 && (p[2].revents & POLLIN)) {
            const ssize_t got = ::read(relay, buf, sizeof buf);
            if (got > 0) {
                std::lock_guard lock(mutex_);
                out_.append(buf, static_cast<std::size_t>(got));
            }
        }
        std::lock_guard lock(mutex_);
        if (!out_.empty()) {
            const ssize_t w = ::write(master_, out_.data(), out_.size());
            if (w > 0) {
                toPanel_ += static_cast<std::uint64_t>(w);
                out_.erase(0, static_cast<std::size_t>(w));
                if (answerBytesLeft_ > 0) {
                    answerBytesLeft_ -= std::min(answerBytesLeft_, static_cast<std::size_t>(w));
                    if (answerBytesLeft_ == 0) answerTimes_.push_back(nowNs());
                }
            }
        }
    }
}

long residentKb(int pid) {
    std::ifstream status(pid == 0 ? std::string("/proc/self/status") : "/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

}  // namespace qelo::bench
