#pragma once
// The runner's line on the panel's own serial adapter, so qelo-ctl finds,
// locks and reports ports exactly as the panel does.

#include <QElapsedTimer>
#include <QEventLoop>
#include <string>

#include "ctl/runner.h"
#include "platform/qt/serial_port.h"

namespace qelo::ctl {

class QtLine : public Line {
public:
    // device empty: port number as the panel maps it. Opens the port;
    // throws platform::SerialError when it cannot.
    QtLine(const std::string& device, int port, int baud);
    ~QtLine() override;

    void send(const std::string& bytes) override;
    std::string receive(long long until) override;
    long long now() override { return clock_.elapsed(); }
    std::string stamp() override;
    std::string device() const override { return port_.device(); }

private:
    platform::qt::QtSerialPort port_;
    QElapsedTimer clock_;
    std::string received_;
    QEventLoop* waiting_ = nullptr;
};

}  // namespace qelo::ctl
