#include "ctl/qt_line.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

namespace qelo::ctl {

namespace {

platform::qt::PortMap mapFor(const std::string& device) {
    if (device.empty()) return platform::qt::defaultPortMap();
    return [device](int) { return device; };
}

}  // namespace

QtLine::QtLine(const std::string& device, int port, int baud) : port_(mapFor(device)) {
    clock_.start();
    port_.onComm([this] {
        received_ += port_.input();
        if (waiting_) waiting_->quit();
    });
    QObject::connect(&port_, &platform::qt::QtSerialPort::portLost, [this] {
        if (waiting_) waiting_->quit();
    });
    port_.setCommPort(port);
    port_.setSettings(std::to_string(baud) + ",N,8,1");
    port_.setPortOpen(true);
}

QtLine::~QtLine() {
    port_.onComm(nullptr);
    port_.setPortOpen(false);
}

void QtLine::send(const std::string& bytes) { port_.output(bytes); }

std::string QtLine::receive(long long until) {
    const long long left = until - now();
    if (received_.empty() && left > 0 && port_.portOpen()) {
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(static_cast<int>(left));
        waiting_ = &loop;
        loop.exec();
        waiting_ = nullptr;
    } else {
        QCoreApplication::processEvents();
    }
    std::string got;
    got.swap(received_);
    // A lost line is reported once what it delivered has been handed on.
    if (got.empty() && !port_.lostReason().empty() && !port_.portOpen())
        throw platform::SerialError(port_.lostReason());
    return got;
}

std::string QtLine::stamp() {
    return QDateTime::currentDateTime().toString("HH:mm:ss.zzz").toStdString();
}

}  // namespace qelo::ctl
