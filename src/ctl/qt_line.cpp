#include "ctl/qt_line.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <sys/resource.h>
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

// What a line keeps that nobody has asked for yet: a projector that talks
// between conversations must not fill the memory.
constexpr std::size_t kMostKept = 64 * 1024;

EventLine::EventLine() {
    clock_.start();
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline_, &QTimer::timeout, [this] { wake(); });
}

EventLine::~EventLine() = default;

void EventLine::arrived(const std::string& bytes) {
    if (received_.size() < kMostKept) received_.append(bytes, 0, kMostKept - received_.size());
    resumeNow();
}

void EventLine::failed(std::exception_ptr failure) {
    if (!failure_) failure_ = std::move(failure);
    wake();
}

void EventLine::resumeNow() {
    if (!waiter_) return;
    deadline_.stop();
    std::exchange(waiter_, {}).resume();
}

void EventLine::wake() {
    if (!waiter_ || resumeDue_) return;
    resumeDue_ = true;
    // Not inside the device's own signal: a conversation that fails there
    // may take the line, device and all, with it (a connection that never
    // came, say). A line gone by then takes the call with it.
    QMetaObject::invokeMethod(
        &resumer_,
        [this] {
            resumeDue_ = false;
            if (!waiter_) return;
            deadline_.stop();
            std::exchange(waiter_, {}).resume();
        },
        Qt::QueuedConnection);
}

void EventLine::Wait::await_suspend(std::coroutine_handle<> h) {
    line.waiter_ = handle = h;
    line.deadline_.start(static_cast<int>(std::clamp(until - line.now(), 0LL, 1LL << 30)));
}

EventLine::Wait::~Wait() {
    // A conversation given up while it waits must not be resumed.
    if (line.waiter_ && line.waiter_ == handle) {
        line.waiter_ = {};
        line.deadline_.stop();
    }
}

Task<std::string> EventLine::receive(long long until) {
    std::string got = std::exchange(received_, {}) + pull();
    if (got.empty() && !failure_ && isOpen() && until > now()) {
        co_await Wait{*this, until};
        got = std::exchange(received_, {}) + pull();
    }
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    // A lost line is reported once what it delivered has been handed on.
    if (got.empty() && !isOpen() && !lostReason().empty()) throw platform::LineError(lostReason());
    co_return got;
}

std::string EventLine::stamp() { return QDateTime::currentDateTime().toString("HH:mm:ss.zzz").toStdString(); }

QtLine::QtLine(const std::string& device, int port, int baud) : port_(mapFor(device)) {
    port_.onComm([this] { arrived(port_.input()); });
    // Never a warning the run goes on past: whatever the receive handler
    // let through ends this line's exchange.
    port_.setFailureReporter([this](std::exception_ptr e) { failed(std::move(e)); });
    QObject::connect(&port_, &platform::qt::QtSerialPort::portLost, [this] { wake(); });
    port_.setCommPort(port);
    port_.setSettings({baud});
    port_.setPortOpen(true);
}

QtLine::~QtLine() {
    port_.onComm(nullptr);
    port_.setPortOpen(false);
}

void QtLine::send(const std::string& bytes) { port_.output(bytes); }

TcpLine::TcpLine(std::string address, TcpAddress to)
    : address_(std::move(address)), to_(std::move(to)), raw_(!to_.telnet) {
    QObject::connect(&socket_, &QTcpSocket::connected, [this] { wake(); });
    // What came is taken when it is asked for; until then the socket holds
    // it, in a bounded buffer, and the kernel the rest.
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this] { resumeNow(); });
    QObject::connect(&socket_, &QTcpSocket::disconnected, [this] {
        if (lost_.empty()) lost_ = address_ + ": the server closed the connection";
        wake();
    });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError e) {
        if (lost_.empty() && socket_.state() != QAbstractSocket::ConnectingState &&
            socket_.state() != QAbstractSocket::HostLookupState)
            lost_ = address_ + ": " +
                    (e == QAbstractSocket::RemoteHostClosedError ? std::string("the server closed the connection")
                                                                 : socket_.errorString().toStdString());
        wake();
    });
}

std::string TcpLine::failure() const {
    switch (socket_.error()) {
    case QAbstractSocket::UnknownSocketError:
        return "no connection within " + std::to_string(kConnectMs / 1000) + " s";
    case QAbstractSocket::SocketResourceError: {
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        return "no file descriptor left for its socket (the open-files limit is " + std::to_string(files.rlim_cur) +
               "; raise it with ulimit -n, or LimitNOFILE= in a service)";
    }
    default:
        return socket_.errorString().toStdString();
    }
}

Task<void> TcpLine::connect() {
    socket_.connectToHost(QString::fromStdString(to_.host), static_cast<quint16>(to_.port));
    const long long until = now() + kConnectMs;
    auto connecting = [this] {
        return socket_.state() == QAbstractSocket::HostLookupState ||
               socket_.state() == QAbstractSocket::ConnectingState;
    };
    while (connecting() && now() < until) co_await Wait{*this, until};
    if (socket_.state() != QAbstractSocket::ConnectedState) {
        const std::string why = failure();
        socket_.abort();
        throw platform::LineError(address_ + ": " + why);
    }
    lost_.clear();
    // Small frames, each awaited: they must leave at once. Set once
    // connected, where Qt applies a socket's options.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A flood is taken in a bounded piece at a time, not all at once.
    socket_.setReadBufferSize(64 * 1024);
}

std::string TcpLine::pull() {
    if (socket_.bytesAvailable() <= 0) return {};
    const QByteArray got = socket_.readAll();
    // Negotiation on a raw connection would be taken for answers.
    if (std::exchange(raw_, false) && telnet::negotiates(got.toStdString())) {
        lost_ = address_ + ": this server speaks telnet: use rfc2217://" + address_.substr(address_.find("://") + 3);
        socket_.abort();
        return {};
    }
    return got.toStdString();
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

Task<std::unique_ptr<Line>> openLine(std::string device, int port, int baud) {
    if (!isTcp(device)) co_return std::make_unique<QtLine>(device, port, baud);
    std::string error;
    const auto parsed = tcpAddress(device, error);
    if (!parsed) throw platform::LineError(error);
    auto tcp = std::make_unique<TcpLine>(device, *parsed);
    co_await tcp->connect();
    if (!parsed->telnet) co_return std::unique_ptr<Line>(std::move(tcp));
    co_return std::make_unique<telnet::TelnetLine>(std::move(tcp), baud);
}

int runSession(const Opener& open, const std::string& device, const Options& o, std::ostream& out,
               std::ostream& err) {
    std::unique_ptr<Line> line;
    return runToEnd(session(open, device, o, out, err, line));
}

}  // namespace qelo::ctl
