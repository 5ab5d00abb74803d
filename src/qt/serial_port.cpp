#include "qt/serial_port.h"

#include <QByteArray>
#include <QMetaObject>
#include <QScopeGuard>
#include <QtGlobal>
#include <climits>
#include <exception>
#include <vector>

#include "qt/logging.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace qelo::platform::qt {

namespace {

bool allDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

std::string prefixed(const std::string& device, const std::string& what) {
    return device.empty() ? what : device + ": " + what;
}

std::string withoutDevice(const std::string& what, const std::string& device) {
    const std::string prefix = device + ": ";
    return what.rfind(prefix, 0) == 0 ? what.substr(prefix.size()) : what;
}

}  // namespace

LineSettings parseSettings(const std::string& settings, const std::string& device) {
    auto bad = [&](const std::string& why) {
        throw LineError(prefixed(device, "invalid settings \"" + settings + "\": " + why));
    };
    std::vector<std::string> parts;
    for (const QByteArray& part : QByteArray::fromStdString(settings).split(','))
        parts.push_back(part.trimmed().toStdString());
    if (parts.size() != 4)
        bad("expected baud, parity, data bits and stop bits, as in \"19200,N,8,1\"");

    LineSettings line;
    // Nine digits keep the value inside qint32.
    if (!allDigits(parts[0]) || parts[0].size() > 9 || std::stol(parts[0]) == 0)
        bad("the baud rate must be a positive number");
    line.baud = static_cast<qint32>(std::stol(parts[0]));

    if (parts[1].size() != 1) bad("the parity must be one of N, E, O, M, S");
    switch (parts[1][0]) {
    case 'N': case 'n': line.parity = QSerialPort::NoParity; break;
    case 'E': case 'e': line.parity = QSerialPort::EvenParity; break;
    case 'O': case 'o': line.parity = QSerialPort::OddParity; break;
    case 'M': case 'm': line.parity = QSerialPort::MarkParity; break;
    case 'S': case 's': line.parity = QSerialPort::SpaceParity; break;
    default: bad("the parity must be one of N, E, O, M, S");
    }

    if (parts[2].size() != 1 || parts[2][0] < '5' || parts[2][0] > '8')
        bad("the data bits must be 5, 6, 7 or 8");
    line.dataBits = static_cast<QSerialPort::DataBits>(parts[2][0] - '0');

    if (parts[3] == "1") line.stopBits = QSerialPort::OneStop;
    else if (parts[3] == "1.5") line.stopBits = QSerialPort::OneAndHalfStop;
    else if (parts[3] == "2") line.stopBits = QSerialPort::TwoStop;
    else bad("the stop bits must be 1, 1.5 or 2");
    return line;
}

QtSerialPort::QtSerialPort(PortMap map, QObject* parent)
    : QObject(parent), map_(std::move(map)), line_(parseSettings(settings_)) {
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialPort::handleReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::handleError);
}

QtSerialPort::~QtSerialPort() {
    handler_ = nullptr;
    if (port_.isOpen()) port_.close();
}

void QtSerialPort::fail(const std::string& what) const { throw LineError(prefixed(device(), what)); }

std::string QtSerialPort::device() const {
    if (state_.kind == State::Open || state_.kind == State::Going) return state_.device;
    return deviceFor(number_);
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
    if (number == number_) return;
    if (portOpen()) fail("the port is open; close it before choosing another port");
    number_ = number;
    // Another port now: the lost one must not come back behind its back.
    if (state_.kind == State::Lost) enter(state_.closed());
}

int QtSerialPort::commPort() const { return number_; }

void QtSerialPort::setSettings(const std::string& settings) {
    const LineSettings line = parseSettings(settings, device());
    if (portOpen()) {
        const bool ok = port_.setBaudRate(line.baud) && port_.setParity(line.parity) &&
                        port_.setDataBits(line.dataBits) && port_.setStopBits(line.stopBits);
        if (!ok) {
            const std::string why = port_.errorString().toStdString();
            // Leave the line as it was rather than half changed.
            port_.setBaudRate(line_.baud);
            port_.setParity(line_.parity);
            port_.setDataBits(line_.dataBits);
            port_.setStopBits(line_.stopBits);
            fail("cannot use \"" + settings + "\": " + why);
        }
    }
    settings_ = settings;
    line_ = line;
}

std::string QtSerialPort::settings() const { return settings_; }

void QtSerialPort::setPortOpen(bool open) {
    if (!open) {
        const bool wasOpen = state_.kind == State::Open;
        if (port_.isOpen()) port_.close();
        enter(wasOpen ? State{State::Closed, state_.number, state_.device, "it was closed", {}} : state_.closed());
        return;
    }
    if (portOpen()) return;
    if (port_.isOpen()) port_.close();  // lost, its close still queued
    const std::string dev = deviceFor(number_);
    try {
        openDevice(dev);
    } catch (const LineError& e) {
        enter({State::Closed, number_, dev, withoutDevice(e.what(), dev), {}});
        throw;
    }
}

void QtSerialPort::openDevice(const std::string& dev) {
    port_.setPortName(QString::fromStdString(dev));
    port_.setBaudRate(line_.baud);
    port_.setParity(line_.parity);
    port_.setDataBits(line_.dataBits);
    port_.setStopBits(line_.stopBits);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        std::string why = port_.errorString().toStdString();
        // The lock file is named "LCK.." and the whole path; past NAME_MAX
        // Qt can only say that locking failed, which reads as a permission fault.
        constexpr std::size_t kLockPrefix = 5;
        if (port_.error() == QSerialPort::PermissionError && kLockPrefix + dev.size() > NAME_MAX)
            why = "the path is too long to lock the device (its lock file's name would be " +
                  std::to_string(kLockPrefix + dev.size()) + " characters, the system allows " +
                  std::to_string(NAME_MAX) + "): use a shorter path or a symbolic link";
        throw LineError(prefixed(dev, why));
    }
    enter({State::Open, number_, dev, {}, {}});
}

void QtSerialPort::enter(State next) {
    static constexpr const char* kNames[] = {"closed", "open", "going", "lost"};
    qCDebug(lcSerial, "COM%d %s: %s -> %s%s%s", next.number, next.device.c_str(), kNames[state_.kind],
            kNames[next.kind], next.kind == State::Open ? "" : ": ", next.kind == State::Open ? "" : next.why.c_str());
    state_ = std::move(next);
}

bool QtSerialPort::portOpen() const { return port_.isOpen() && state_.kind == State::Open; }

std::string QtSerialPort::lostText() const { return prefixed(state_.device, state_.why + "; the port is closed"); }

std::string QtSerialPort::lostReason() const {
    const bool lost = state_.kind == State::Going || state_.kind == State::Lost;
    return lost ? lostText() : std::string();
}

void QtSerialPort::failNotOpen() const {
    const std::string dev = state_.device.empty() ? deviceFor(state_.number) : state_.device;
    const std::string again = state_.again.empty() ? "" : ", and opening it again failed (" + state_.again + ")";
    throw LineError(dev + " (COM" + std::to_string(state_.number) + ") is not open: " + state_.why + again +
                      (state_.reopenable() ? ". Plug it in again, or choose a port with COM." : ". Choose a port with COM."));
}

bool QtSerialPort::State::reopenable() const {
    // A pseudo-terminal's number goes to the next terminal anybody opens: it
    // never comes back as the same line.
    return kind == Lost && device.rfind("/dev/pts/", 0) != 0;
}

void QtSerialPort::reopenLost() {
    if (state_.kind == State::Going) throw LineError(lostText());  // it is going away right now
    if (!state_.reopenable()) failNotOpen();
    // Once per write, by the path that was lost: a new look-up of the number
    // could lead to somebody else's adapter.
    try {
        openDevice(state_.device);
    } catch (const LineError& e) {
        State lost = state_;
        lost.again = withoutDevice(e.what(), state_.device);
        enter(std::move(lost));
        failNotOpen();
    }
}

void QtSerialPort::output(const std::string& text) {
    if (!portOpen()) reopenLost();
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    const qint64 written = port_.write(bytes);
    if (written != bytes.size()) {
        if (state_.kind == State::Going) throw LineError(lostText());
        fail("only " + std::to_string(std::max<qint64>(written, 0)) + " of " +
             std::to_string(bytes.size()) + " bytes could be written (" +
             port_.errorString().toStdString() + ")");
    }
    qCDebug(lcLink, "%s tx %s", state_.device.c_str(), bytes.toHex(' ').constData());
    // Hand the bytes to the system now, so that a dead line is reported by
    // this send and not by some later event.
    port_.flush();
    if (state_.kind == State::Going) throw LineError(lostText());
}

std::string QtSerialPort::input() {
    if (!portOpen()) fail("the port is not open");
    const QByteArray bytes = port_.readAll();
    qCDebug(lcLink, "%s rx %s", state_.device.c_str(), bytes.toHex(' ').constData());
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
    enter({State::Going, state_.number, state_.device, "the device went away (" + why + ")", {}});
    // QSerialPort is inside its own notifier here; closing it now would
    // delete that notifier under its feet.
    QMetaObject::invokeMethod(this, &QtSerialPort::closeLostPort, Qt::QueuedConnection);
}

void QtSerialPort::closeLostPort() {
    if (state_.kind != State::Going) return;
    port_.close();
    enter({State::Lost, state_.number, state_.device, state_.why, {}});
    emit portLost(QString::fromStdString(lostText()));
}

}  // namespace qelo::platform::qt
