#pragma once
// The runner's lines in Qt: the panel's own serial adapter, so qelo-ctl
// finds, locks and reports ports exactly as the panel does, and a raw TCP
// connection to a serial device server.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <exception>
#include <memory>
#include <string>

#include "ctl/cli.h"
#include "ctl/runner.h"
#include "qt/serial_port.h"

namespace qelo::ctl {

// Waits in a local event loop for what a Qt device delivers.
class EventLine : public Line {
public:
    EventLine() { clock_.start(); }
    std::string receive(long long until) override;
    long long now() override { return clock_.elapsed(); }
    std::string stamp() override;

protected:
    void arrived(const std::string& bytes);
    void wake();
    // A failure the device's event delivery caught: the next receive throws it.
    void failed(std::exception_ptr failure);
    // Whether the line still works, and why not.
    virtual bool isOpen() const = 0;
    virtual std::string lostReason() const = 0;

private:
    QElapsedTimer clock_;
    std::string received_;
    std::exception_ptr failure_;
    QEventLoop* waiting_ = nullptr;
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
    // Connects; throws platform::LineError with the reason when it cannot.
    TcpLine(std::string address, const TcpAddress& to);
    ~TcpLine() override;

    void send(const std::string& bytes) override;
    std::string device() const override { return address_; }
    long long quietMs() const override { return kQuietMs; }

private:
    bool isOpen() const override { return socket_.state() == QAbstractSocket::ConnectedState; }
    std::string lostReason() const override { return lost_; }

    std::string address_;
    QTcpSocket socket_;
    std::string lost_;
};

// The line a --device names: a serial device (port number port as the panel
// maps it when device is empty), tcp:// or rfc2217://. Throws
// platform::LineError when it cannot be opened.
std::unique_ptr<Line> openLine(const std::string& device, int port, int baud);

}  // namespace qelo::ctl
