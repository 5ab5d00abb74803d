#pragma once
// The serial service on QSerialPort.
//
// - The port number is turned into a device by a PortMap when the port is
//   opened. Changing the number while the port is open is refused, as the
//   panel always closes before it switches.
// - The speed is checked when it is set; on an open port it takes effect at
//   once, without reopening. The framing is always 8N1.
// - Opening an open port and closing a closed one change nothing.
// - Read, write and resource errors mean the device is gone: the port is
//   closed straight away (Qt would otherwise report the same error in a
//   tight loop for ever), and the next write says what happened.
// - After such a loss each write first tries once to open the lost device
//   again by the same path, so a cable plugged back in just works. Nothing
//   runs while the device is gone, and a new port number or an explicit
//   close ends the attempts. Pseudo-terminals are never tried again.
// - A write to a port that is not open names the number and device last
//   opened or tried, not whatever number was chosen afterwards.
// - Every failure is a LineError whose text starts with the device path.

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "seam/platform.h"
#include "qt/delivery.h"
#include "qt/port_map.h"

namespace qelo::platform::qt {

class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(PortMap map = defaultPortMap(), QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setCommPort(int number) override;
    int commPort() const override;
    void setSettings(const LineSettings& settings) override;
    LineSettings settings() const override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    void output(const std::string& text) override;
    std::string input() override;
    int commEvent() const override;
    void onComm(std::function<void()> handler) override;

    // Where a failure that the receive handler let through goes; without
    // one it is logged. It must not unwind through Qt's signal delivery.
    void setFailureReporter(Delivery::Reporter reporter) { delivery_.setReporter(std::move(reporter)); }

    // The device open, or the one the chosen number maps to.
    std::string device() const;
    // The device a port number maps to right now.
    std::string deviceFor(int number) const;
    // Why the port closed by itself; empty while it has not.
    std::string lostReason() const;

signals:
    // The device went away and the port has been closed.
    void portLost(const QString& description);

private:
    void handleReadyRead();
    void handleError(QSerialPort::SerialPortError error);
    void closeLostPort();
    // The system's words for why the device would not open; nothing when it did.
    std::optional<std::string> openDevice(int number, const std::string& dev);
    void reopenLost();
    [[noreturn]] void fail(const std::string& what) const;

    PortMap map_;
    QSerialPort port_;
    // The number chosen with setCommPort: what the next open maps to device.
    int chosen_ = 1;
    LineSettings settings_;
    // The port's one state, changed only by enter(): open, going (lost, its
    // close queued), lost or closed; the number and device it is open for,
    // or was last opened or tried for; and why it is not open, as data.
    struct State {
        enum Kind { Closed, Open, Going, Lost } kind = Closed;
        enum Why { NeverOpened, ClosedOnRequest, OpenFailed, WentAway } why = NeverOpened;
        int openNumber = 1;
        std::string openDevice;
        std::string cause;  // the system's words: why it would not open, or how it went away
        std::string again;  // the system's words: why opening a lost device again failed
        bool reopenable() const;
    } state_;
    void enter(State next);
    // What the operator reads about a port that is not open: every such
    // text is worded here, from the state.
    enum class Wording { Reason, OpenFailed, Lost, NotOpen };
    std::string describe(Wording wording) const;
    int event_ = 0;
    std::function<void()> handler_;
    Delivery delivery_;
};

}  // namespace qelo::platform::qt
