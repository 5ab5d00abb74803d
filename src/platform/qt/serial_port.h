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
// - Every failure is a SerialError whose text starts with the device path.

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <exception>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "platform/qt/delivery.h"
#include "platform/qt/port_map.h"

namespace qelo::platform::qt {

struct LineSettings {
    qint32 baud = 19200;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Parses "baud,parity,data bits,stop bits"; throws SerialError saying which
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
    // Why the port closed by itself; empty while it has not.
    std::string lostReason() const { return lost_; }

signals:
    // The device went away and the port has been closed.
    void portLost(const QString& description);

private:
    void handleReadyRead();
    void handleError(QSerialPort::SerialPortError error);
    void closeLostPort();
    [[noreturn]] void fail(const std::string& what) const;

    PortMap map_;
    QSerialPort port_;
    int number_ = 1;
    std::string settings_ = "19200,N,8,1";
    LineSettings line_;
    std::string openDevice_;  // the device in use while open
    std::string lost_;
    bool closing_ = false;    // a close for a lost device is queued
    int event_ = 0;
    std::function<void()> handler_;
    Delivery delivery_;
};

}  // namespace qelo::platform::qt
