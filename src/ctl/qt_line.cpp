#include "ctl/qt_line.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>
#include <utility>

#include "ctl/telnet.h"
#include "seam/platform.h"

namespace qelo::ctl {

namespace {

platform::qt::PortMap mapFor(const std::string& device) {
    if (device.empty()) return platform::qt::defaultPortMap();
    return [device](int) { return device; };
}

}  // namespace

void EventLine::arrived(const std::string& bytes) {
    received_ += bytes;
    wake();
}

void EventLine::failed(std::exception_ptr failure) {
    if (!failure_) failure_ = std::move(failure);
    wake();
}

void EventLine::wake() {
    if (waiting_) waiting_->quit();
}

std::string EventLine::receive(long long until) {
    const long long left = until - now();
    if (received_.empty() && left > 0 && isOpen()) {
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
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    std::string got;
    got.swap(received_);
    // A lost line is reported once what it delivered has been handed on.
    if (got.empty() && !isOpen() && !lostReason().empty()) throw platform::LineError(lostReason());
    return got;
}

std::string EventLine::stamp() { return QDateTime::currentDateTime().toString("HH:mm:ss.zzz").toStdString(); }

QtLine::QtLine(const std::string& device, int port, int baud) : port_(mapFor(device)) {
    port_.onComm([this] { arrived(port_.input()); });
    // Never a warning the run goes on past: whatever the receive handler
    // let through ends this line's exchange.
    port_.setFailureReporter([this](std::exception_ptr e) { failed(std::move(e)); });
    QObject::connect(&port_, &platform::qt::QtSerialPort::portLost, [this] { wake(); });
    port_.setCommPort(port);
    port_.setSettings(std::to_string(baud) + ",N,8,1");
    port_.setPortOpen(true);
}

QtLine::~QtLine() {
    port_.onComm(nullptr);
    port_.setPortOpen(false);
}

void QtLine::send(const std::string& bytes) { port_.output(bytes); }

TcpLine::TcpLine(std::string address, const TcpAddress& to) : address_(std::move(address)) {
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket_, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    socket_.connectToHost(QString::fromStdString(to.host), static_cast<quint16>(to.port));
    deadline.start(kConnectMs);
    if (socket_.state() != QAbstractSocket::UnconnectedState) loop.exec();
    if (socket_.state() != QAbstractSocket::ConnectedState) {
        const std::string why = socket_.error() != QAbstractSocket::UnknownSocketError
                                    ? socket_.errorString().toStdString()
                                    : "no connection within " + std::to_string(kConnectMs / 1000) + " s";
        socket_.abort();
        throw platform::LineError(address_ + ": " + why);
    }
    // Small frames, each awaited: they must leave at once. Set once
    // connected, where Qt applies a socket's options.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A flood is taken in a bounded piece at a time, not all at once.
    socket_.setReadBufferSize(64 * 1024);
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this, raw = !to.telnet]() mutable {
        const QByteArray got = socket_.readAll();
        // Negotiation on a raw connection would be taken for answers.
        if (std::exchange(raw, false) && telnet::negotiates(got.toStdString())) {
            lost_ = address_ + ": this server speaks telnet: use rfc2217://" + address_.substr(address_.find("://") + 3);
            socket_.abort();
            wake();
            return;
        }
        arrived(got.toStdString());
    });
    QObject::connect(&socket_, &QTcpSocket::disconnected, [this] {
        if (lost_.empty()) lost_ = address_ + ": the server closed the connection";
        wake();
    });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError e) {
        if (lost_.empty())
            lost_ = address_ + ": " +
                    (e == QAbstractSocket::RemoteHostClosedError ? std::string("the server closed the connection")
                                                                 : socket_.errorString().toStdString());
        wake();
    });
}

TcpLine::~TcpLine() {
    socket_.disconnect();
    socket_.abort();
}

void TcpLine::send(const std::string& bytes) {
    if (!isOpen()) throw platform::LineError(lost_.empty() ? address_ + ": not connected" : lost_);
    if (socket_.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        throw platform::LineError(address_ + ": " + socket_.errorString().toStdString());
    socket_.flush();
}

std::unique_ptr<Line> openLine(const std::string& device, int port, int baud) {
    if (isTcp(device)) {
        std::string error;
        const auto parsed = tcpAddress(device, error);
        if (!parsed) throw platform::LineError(error);
        const TcpAddress& to = *parsed;
        auto tcp = std::make_unique<TcpLine>(device, to);
        if (!to.telnet) return tcp;
        return std::make_unique<telnet::TelnetLine>(std::move(tcp), baud);
    }
    return std::make_unique<QtLine>(device, port, baud);
}

}  // namespace qelo::ctl
