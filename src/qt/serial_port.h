#pragma once
// The serial service on QSerialPort.
//
// - The port number is turned into a device by a PortMap when the port is
//   opened. Changing the number while the port is open is refused, as the
//   panel always closes before it switches.
// - The settings string ("19200,N,8,1") is checked when it is set; on an
//   open port it takes effect at once, without reopening.
// - Opening an open port and closing a closed one change nothing.
// - Read, write and resource errors mean the device is gone: the port is
//   closed straight away (Qt would otherwise report the same error in a
//   tight loop for ever), and the next write says what happened.
// - After such a loss each write first tries once to open the lost device
//   again by the same path, so a cable plugged back in just works. Nothing
//   runs while the device is gone, and a new port number or an explicit
//   close ends the attempts. Pseudo-terminals are never tried again.
// - A write to a port that is not open names the port number last chosen
//   and its device, not whatever number the port was set to afterwards.
// - Every failure is a LineError whose text starts with the device path.

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <exception>
#include <functional>
#include <string>

#include "seam/platform.h"
#include "qt/delivery.h"
#include "qt/port_map.h"

namespace qelo::platform::qt {

struct LineSettings {
    qint32 baud = 19200;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Parses "baud,parity,data bits,stop bits"; throws LineError saying which
// part is wrong. device only prefixes the description.
LineSettings parseSettings(const std::string& settings, const std::string& device = {});

class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(PortMap map = defaultPortMap(), QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setCommPort(int number) override;
    int commPort() const override;
    void setSettings(const std::string& settings) override;
    std::string settings() const override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    void output(const std::string& text) override;
    std::string input() override;
    int commEvent() const override;
    void onComm(std::function<void()> handler) override;

    // Where a failure that the receive handler let through goes; without
    // one it is logged. It must not unwind through Qt's signal delivery.
    void setFailureReporter(Delivery::Reporter reporter) { delivery_.setReporter(std::move(reporter)); }

    // The device the current port number maps to.
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
    void openDevice(const std::string& dev);
    void reopenLost();
    [[noreturn]] void failNotOpen() const;
    [[noreturn]] void fail(const std::string& what) const;

    PortMap map_;
    QSerialPort port_;
    int number_ = 1;
    std::string settings_ = "19200,N,8,1";
    LineSettings line_;
    // The port's one state, changed only by enter(): open, going (lost, its
    // close queued), lost or closed; the number and device it was opened for
    // or last tried; and why it is not open.
    struct State {
        enum Kind { Closed, Open, Going, Lost } kind = Closed;
        int number = 1;
        std::string device;
        std::string why = "it has not been opened";
        std::string again;  // why opening a lost device again failed last
        bool reopenable() const;
        // Closed, for whatever reason it was not open before.
        State closed() const {
            State s = *this;
            s.kind = Closed;
            return s;
        }
    } state_;
    void enter(State next);
    std::string lostText() const;
    int event_ = 0;
    std::function<void()> handler_;
    Delivery delivery_;
};

}  // namespace qelo::platform::qt
