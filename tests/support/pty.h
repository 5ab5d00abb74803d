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

// CPU time (user + system) this process has used so far, in ms.
inline double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

}  // namespace qelo::test
