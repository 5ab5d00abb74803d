#include "qt/serial_port.h"

#include <QByteArray>
#include <QMetaObject>
#include <QScopeGuard>
#include <QtGlobal>
#include <climits>
#include <exception>
#include <optional>
#include <vector>

#include "qt/logging.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace qelo::platform::qt {

namespace {

std::string prefixed(const std::string& device, const std::string& what) {
    return device.empty() ? what : device + ": " + what;
}

}  // namespace

QtSerialPort::QtSerialPort(PortMap map, QObject* parent)
    : QObject(parent), map_(std::move(map)) {
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialPort::handleReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::handleError);
}

QtSerialPort::~QtSerialPort() {
    handler_ = nullptr;
    if (port_.isOpen()) port_.close();
}

void QtSerialPort::fail(const std::string& what) const { throw LineError(prefixed(device(), what)); }

std::string QtSerialPort::device() const {
    if (state_.kind == State::Open || state_.kind == State::Going) return state_.openDevice;
    return deviceFor(chosen_);
}

std::string QtSerialPort::deviceFor(int number) const {
    std::string dev;
    try {
        if (map_) dev = map_(number);
    } catch (const std::exception&) {
        dev.clear();
    }
    return dev.empty() ? "COM" + std::to_string(number) : dev;
}

void QtSerialPort::setCommPort(int number) {
    if (number < 1) throw LineError("COM" + std::to_string(number) + ": invalid port number");
    if (number == chosen_) return;
    if (portOpen()) fail("the port is open; close it before choosing another port");
    chosen_ = number;
    // Another port now: the lost one must not come back behind its back.
    if (state_.kind == State::Lost) {
        State closed = state_;
        closed.kind = State::Closed;
        enter(std::move(closed));
    }
}

int QtSerialPort::commPort() const { return chosen_; }

void QtSerialPort::setSettings(const LineSettings& settings) {
    if (settings.baud <= 0)
        fail("invalid settings \"" + settings.text() + "\": the baud rate must be a positive number");
    if (portOpen() && !port_.setBaudRate(settings.baud)) {
        const std::string why = port_.errorString().toStdString();
        port_.setBaudRate(settings_.baud);  // as it was rather than half changed
        fail("cannot use \"" + settings.text() + "\": " + why);
    }
    settings_ = settings;
}

LineSettings QtSerialPort::settings() const { return settings_; }

void QtSerialPort::setPortOpen(bool open) {
    if (!open) {
        if (port_.isOpen()) port_.close();
        State closed = state_;
        if (state_.kind == State::Open) closed = {State::Closed, State::ClosedOnRequest, state_.openNumber, state_.openDevice, {}, {}};
        closed.kind = State::Closed;
        enter(std::move(closed));
        return;
    }
    if (portOpen()) return;
    if (port_.isOpen()) port_.close();  // lost, its close still queued
    const std::string dev = deviceFor(chosen_);
    if (auto why = openDevice(chosen_, dev)) {
        enter({State::Closed, State::OpenFailed, chosen_, dev, std::move(*why), {}});
        throw LineError(describe(Wording::OpenFailed));
    }
}

std::optional<std::string> QtSerialPort::openDevice(int number, const std::string& dev) {
    port_.setPortName(QString::fromStdString(dev));
    port_.setBaudRate(settings_.baud);
    port_.setParity(QSerialPort::NoParity);
    port_.setDataBits(QSerialPort::Data8);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        // The lock file is named "LCK.." and the whole path; past NAME_MAX
        // Qt can only say that locking failed, which reads as a permission fault.
        constexpr std::size_t kLockPrefix = 5;
        if (port_.error() == QSerialPort::PermissionError && kLockPrefix + dev.size() > NAME_MAX)
            return "the path is too long to lock the device (its lock file's name would be " +
                   std::to_string(kLockPrefix + dev.size()) + " characters, the system allows " +
                   std::to_string(NAME_MAX) + "): use a shorter path or a symbolic link";
        return port_.errorString().toStdString();
    }
    enter({State::Open, State::NeverOpened, number, dev, {}, {}});
    return std::nullopt;
}

void QtSerialPort::enter(State next) {
    static constexpr const char* kNames[] = {"closed", "open", "going", "lost"};
    const State::Kind was = state_.kind;
    state_ = std::move(next);
    // The device alone: the number means nothing where a map sends every
    // number to one device, as qelo-ctl's and the bridge's do.
    qCDebug(lcSerial, "%s: %s -> %s%s%s", state_.openDevice.c_str(), kNames[was], kNames[state_.kind],
            state_.kind == State::Open ? "" : ": ", state_.kind == State::Open ? "" : describe(Wording::Reason).c_str());
}

bool QtSerialPort::portOpen() const { return port_.isOpen() && state_.kind == State::Open; }

std::string QtSerialPort::describe(Wording wording) const {
    std::string why;
    switch (state_.why) {
    case State::NeverOpened: why = "it has not been opened"; break;
    case State::ClosedOnRequest: why = "it was closed"; break;
    case State::OpenFailed: why = state_.cause; break;
    case State::WentAway: why = "the device went away (" + state_.cause + ")"; break;
    }
    switch (wording) {
    case Wording::Reason: return why;
    case Wording::OpenFailed: return prefixed(state_.openDevice, why);
    case Wording::Lost: return prefixed(state_.openDevice, why + "; the port is closed");
    case Wording::NotOpen: break;
    }
    const std::string dev = state_.openDevice.empty() ? deviceFor(state_.openNumber) : state_.openDevice;
    const std::string again = state_.again.empty() ? "" : ", and opening it again failed (" + state_.again + ")";
    return dev + " (COM" + std::to_string(state_.openNumber) + ") is not open: " + why + again +
           (state_.reopenable() ? ". Plug it in again, or choose a port with COM." : ". Choose a port with COM.");
}

std::string QtSerialPort::lostReason() const {
    const bool lost = state_.kind == State::Going || state_.kind == State::Lost;
    return lost ? describe(Wording::Lost) : std::string();
}

bool QtSerialPort::State::reopenable() const {
    // A pseudo-terminal's number goes to the next terminal anybody opens: it
    // never comes back as the same line.
    return kind == Lost && openDevice.rfind("/dev/pts/", 0) != 0;
}

void QtSerialPort::reopenLost() {
    if (state_.kind == State::Going) throw LineError(describe(Wording::Lost));  // it is going away right now
    if (!state_.reopenable()) throw LineError(describe(Wording::NotOpen));
    // Once per write, by the path that was lost: a new look-up of the number
    // could lead to somebody else's adapter.
    if (auto why = openDevice(state_.openNumber, state_.openDevice)) {
        State lost = state_;
        lost.again = std::move(*why);
        enter(std::move(lost));
        throw LineError(describe(Wording::NotOpen));
    }
}

void QtSerialPort::output(const std::string& text) {
    if (!portOpen()) reopenLost();
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    const qint64 written = port_.write(bytes);
    if (written != bytes.size()) {
        if (state_.kind == State::Going) throw LineError(describe(Wording::Lost));
        fail("only " + std::to_string(std::max<qint64>(written, 0)) + " of " +
             std::to_string(bytes.size()) + " bytes could be written (" +
             port_.errorString().toStdString() + ")");
    }
    qCDebug(lcLink, "%s tx %s", state_.openDevice.c_str(), bytes.toHex(' ').constData());
    // Hand the bytes to the system now, so that a dead line is reported by
    // this send and not by some later event.
    port_.flush();
    if (state_.kind == State::Going) throw LineError(describe(Wording::Lost));
}

std::string QtSerialPort::input() {
    if (!portOpen()) fail("the port is not open");
    const QByteArray bytes = port_.readAll();
    qCDebug(lcLink, "%s rx %s", state_.openDevice.c_str(), bytes.toHex(' ').constData());
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

int QtSerialPort::commEvent() const { return event_; }

void QtSerialPort::onComm(std::function<void()> handler) { handler_ = std::move(handler); }

void QtSerialPort::handleReadyRead() {
    if (!handler_ || state_.kind != State::Open || port_.bytesAvailable() == 0) return;
    const auto reset = qScopeGuard([this] { event_ = 0; });
    event_ = ReceiveEvent;
    delivery_.run(handler_);
}

void QtSerialPort::handleError(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError &&
        error != QSerialPort::ResourceError)
        return;
    if (state_.kind != State::Open || !port_.isOpen()) return;
    std::string why = port_.errorString().toStdString();
#ifdef Q_OS_UNIX
    // A hung-up line reads as end of file, and Qt then reports whatever
    // errno was left over from an earlier call; ask the descriptor instead.
    pollfd p{static_cast<int>(port_.handle()), POLLIN, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) why = "the line was hung up";
#endif
    enter({State::Going, State::WentAway, state_.openNumber, state_.openDevice, why, {}});
    // QSerialPort is inside its own notifier here; closing it now would
    // delete that notifier under its feet.
    QMetaObject::invokeMethod(this, &QtSerialPort::closeLostPort, Qt::QueuedConnection);
}

void QtSerialPort::closeLostPort() {
    if (state_.kind != State::Going) return;
    port_.close();
    State lost = state_;
    lost.kind = State::Lost;
    enter(std::move(lost));
    emit portLost(QString::fromStdString(describe(Wording::Lost)));
}

}  // namespace qelo::platform::qt
