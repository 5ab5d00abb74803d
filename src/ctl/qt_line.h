#pragma once
// The runner's lines in Qt: the panel's own serial adapter, so qelo-ctl
// finds, locks and reports ports exactly as the panel does, and a raw TCP
// connection to a serial device server.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <coroutine>
#include <exception>
#include <memory>
#include <string>

#include "ctl/cli.h"
#include "ctl/report.h"
#include "ctl/runner.h"
#include "qt/serial_port.h"

namespace qelo::ctl {

// What a Qt device delivers, waited for on the event loop of the thread the
// line lives in without holding it: a receive with nothing there suspends
// its conversation until bytes come, the line goes or the time is up.
class EventLine : public Line {
public:
    EventLine();
    ~EventLine() override;
    Task<std::string> receive(long long until) override;
    long long now() override { return clock_.elapsed(); }
    std::string stamp() override;

protected:
    void arrived(const std::string& bytes);
    // Resumes the conversation waiting on this line, if one is: at once for
    // bytes that came, which is every answer's path, and from the event
    // loop for the rest (a loss, a failure, the time up). A conversation
    // that ends on its bytes leaves its line to its owner, which drops it
    // outside the line's signals (report.h's session, the bridge's rooms).
    void resumeNow();
    void wake();
    // Suspends until wake() or the time `until`.
    struct Wait {
        Wait(EventLine& l, long long u) : line(l), until(u) {}
        Wait(const Wait&) = delete;
        ~Wait();
        bool await_ready() const { return false; }
        void await_suspend(std::coroutine_handle<> h);
        void await_resume() const {}
        EventLine& line;
        long long until;
        std::coroutine_handle<> handle;
    };
    // A failure the device's event delivery caught: the next receive throws it.
    void failed(std::exception_ptr failure);
    // Bytes the device holds that have not been taken; a line that leaves
    // them there (bounded by the device's buffer) gives them here.
    virtual std::string pull() { return {}; }
    // Whether the line still works, and why not.
    virtual bool isOpen() const = 0;
    virtual std::string lostReason() const = 0;

private:
    QElapsedTimer clock_;
    std::string received_;
    std::exception_ptr failure_;
    std::coroutine_handle<> waiter_;
    QTimer deadline_;
    QObject resumer_;  // where a resume is posted
    bool resumeDue_ = false;
};

class QtLine : public EventLine {
public:
    // device empty: port number as the panel maps it. Opens the port;
    // throws platform::LineError when it cannot.
    QtLine(const std::string& device, int port, int baud);
    ~QtLine() override;

    void send(const std::string& bytes) override;
    std::string device() const override { return port_.device(); }

private:
    bool isOpen() const override { return port_.portOpen(); }
    std::string lostReason() const override { return port_.lostReason(); }

    platform::qt::QtSerialPort port_;
};

// A connection to a serial device server; the time a connection may take.
inline constexpr int kConnectMs = 5000;

class TcpLine : public EventLine {
public:
    TcpLine(std::string address, TcpAddress to);
    ~TcpLine() override;
    // Throws platform::LineError with the reason when it cannot connect.
    Task<void> connect();

    void send(const std::string& bytes) override;
    std::string device() const override { return address_; }
    long long quietMs() const override { return kQuietMs; }

private:
    std::string pull() override;
    bool isOpen() const override { return socket_.state() == QAbstractSocket::ConnectedState; }
    std::string lostReason() const override { return lost_; }
    std::string failure() const;

    std::string address_;
    TcpAddress to_;
    QTcpSocket socket_;
    std::string lost_;
    bool raw_;  // no telnet expected: the first bytes are checked for it
};

// The line a --device names: a serial device (port number port as the panel
// maps it when device is empty), tcp:// or rfc2217://. Throws
// platform::LineError when it cannot be opened.
Task<std::unique_ptr<Line>> openLine(std::string device, int port, int baud);

// Runs t on this thread's event loop until it ends; its value.
template <class T>
T runToEnd(Task<T> t) {
    QEventLoop* waiting = nullptr;
    t.start([&waiting] {
        if (waiting) waiting->quit();
    });
    if (!t.done()) {
        QEventLoop loop;
        waiting = &loop;
        loop.exec();
    }
    return t.result();
}

// A session (report.h) on this thread's event loop, until it ends; the
// exit status. The line goes after the loop, outside its own signals.
int runSession(const Opener& open, const std::string& device, const Options& o, std::ostream& out,
               std::ostream& err);

}  // namespace qelo::ctl
