#include "support/simulator.h"

#include <QDeadlineTimer>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "support/pty.h"

namespace qelo::test {

Simulator::Simulator(const QString& program, const QStringList& args) {
    QObject::connect(&process_, &QProcess::readyReadStandardError,
                     [this] { log_ += process_.readAllStandardError().toStdString(); });
    process_.start(program, args);
    if (!process_.waitForStarted(5000)) throw std::runtime_error("the simulator did not start: " + program.toStdString());
    QDeadlineTimer deadline(5000);
    while (!process_.canReadLine()) {
        if (deadline.hasExpired() || process_.state() != QProcess::Running)
            throw std::runtime_error("the simulator named no pty: " + log_);
        process_.waitForReadyRead(50);
    }
    const std::string line = process_.readLine().trimmed().toStdString();
    if (line.rfind("PTY ", 0) == 0)
        device_ = line.substr(4);
    else if (line.rfind("TCP ", 0) == 0)
        device_ = "tcp://" + line.substr(4);
    else
        throw std::runtime_error("the simulator said: " + line);
}

Simulator::~Simulator() {
    if (fd_ >= 0) ::close(fd_);
    process_.disconnect();
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(2000)) {
        process_.kill();
        process_.waitForFinished(2000);
    }
}

int Simulator::fd() {
    if (fd_ < 0) fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("cannot open the simulator's " + device_);
    return fd_;
}

bool Simulator::logged(const std::string& text, int ms) const {
    return spinUntil([&] { return log_.find(text) != std::string::npos; }, ms);
}

void Simulator::command(const std::string& line) {
    process_.write((line + "\n").c_str());
    process_.waitForBytesWritten(1000);
}

SimulatorSummary Simulator::quit(int ms) {
    SimulatorSummary s;
    command("quit");
    process_.closeWriteChannel();
    if (!process_.waitForFinished(ms)) return s;
    s.printed = process_.readAllStandardOutput().toStdString();
    const auto at = s.printed.find("frames received");
    if (at != std::string::npos)
        std::sscanf(s.printed.c_str() + at, "frames received %ld, malformed frames %ld, answers sent %ld, unasked sent %ld",
                    &s.frames, &s.malformed, &s.answers, &s.unasked);
    return s;
}

}  // namespace qelo::test
