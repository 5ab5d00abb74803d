#pragma once
// A pseudo-terminal standing in for the projector's end of the cable, and
// helpers to wait on the event loop without fixed sleeps.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

namespace qelo::test {

class Pty {
public:
    Pty() {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        path_ = name;
        // Our end must not echo or translate what the panel writes.
        termios t{};
        tcgetattr(master_, &t);
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        hangUp();
        if (slave_ >= 0) ::close(slave_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& path() const { return path_; }
    int master() const { return master_; }
    int slave() const { return slave_; }

    // The far end goes away, as when the cable is pulled.
    void hangUp() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    // Lets only the panel hold the line, so its closing hangs up our end.
    void dropSlave() {
        if (slave_ >= 0) ::close(slave_);
        slave_ = -1;
    }

    void send(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n < 0) throw std::runtime_error("write to pty failed");
            done += static_cast<std::size_t>(n);
        }
    }

    // Everything that arrives within the quiet period after the last byte,
    // waiting up to first for the first one; the event loop keeps running.
    std::string receive(int firstMs = 2000, int quietMs = 100) const {
        std::string got;
        QElapsedTimer clock;
        clock.start();
        qint64 last = -1;
        for (;;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            char buf[512];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) {
                got.append(buf, static_cast<std::size_t>(n));
                last = clock.elapsed();
                continue;
            }
            if (last < 0 ? clock.elapsed() > firstMs : clock.elapsed() - last > quietMs) return got;
            waitReadable(5);
        }
    }

private:
    void waitReadable(int ms) const {
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, ms);
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Runs the event loop until cond holds or ms pass; returns cond().
inline bool spinUntil(const std::function<bool()>& cond, int ms = 3000) {
    QDeadlineTimer deadline(ms);
    while (!cond()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Lets the event loop run on its own for ms, sleeping when it has nothing to do.
inline void spinFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// What ms of the event loop cost this process: CPU time, and how often it
// went to sleep and was woken.
struct LoopCost {
    double cpuMs = 0;
    long wakeUps = 0;
};

inline LoopCost loopCost(int ms) {
    auto now = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        auto msOf = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
        return LoopCost{msOf(u.ru_utime) + msOf(u.ru_stime), u.ru_nvcsw + u.ru_nivcsw};
    };
    const LoopCost before = now();
    spinFor(ms);
    const LoopCost after = now();
    return {after.cpuMs - before.cpuMs, after.wakeUps - before.wakeUps};
}

// Whether a loop is still as idle as a baseline taken in the same test, on
// the same machine and build: a loop that spins costs the whole period and
// wakes thousands of times; an idle one next to nothing. The margin (a
// twentieth of the period) is there for the noise of a shared machine.
inline bool asIdleAs(const LoopCost& cost, const LoopCost& baseline, int ms) {
    return cost.cpuMs <= 4 * baseline.cpuMs + ms / 20.0 && cost.wakeUps <= 4 * baseline.wakeUps + ms / 20;
}

inline std::string describe(const LoopCost& cost) {
    return std::to_string(cost.cpuMs) + " ms CPU, " + std::to_string(cost.wakeUps) + " wake-ups";
}

}  // namespace qelo::test
