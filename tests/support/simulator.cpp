#include "support/simulator.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "app/simulator_process.h"
#include "support/pty.h"

namespace qelo::test {

Simulator::Simulator(const QString& program, const QStringList& args) {
    QObject::connect(&process_, &QProcess::readyReadStandardError,
                     [this] { log_ += process_.readAllStandardError().toStdString(); });
    process_.start(program, args);
    QString why;
    device_ = app::awaitSimulator(process_, why).toStdString();
    if (device_.empty())
        throw std::runtime_error("the simulator (" + program.toStdString() + ") did not start: " + why.toStdString() +
                                 "\n" + log_);
}

Simulator::~Simulator() {
    if (fd_ >= 0) ::close(fd_);
    process_.disconnect();
    app::stopSimulator(process_);
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
    command("quit");
    process_.closeWriteChannel();
    return summary(ms);
}

SimulatorSummary Simulator::terminate(int ms) {
    process_.terminate();
    return summary(ms);
}

int Simulator::exitStatus(int ms) {
    // Qt's wait says false, too, for one that has already ended.
    if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(ms)) return -1;
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

SimulatorSummary Simulator::summary(int ms) {
    SimulatorSummary s;
    s.status = exitStatus(ms);
    if (process_.state() != QProcess::NotRunning) return s;
    s.printed = process_.readAllStandardOutput().toStdString();
    const auto at = s.printed.find("frames received");
    if (at != std::string::npos)
        std::sscanf(s.printed.c_str() + at, "frames received %ld, malformed frames %ld, answers sent %ld, unasked sent %ld",
                    &s.frames, &s.malformed, &s.answers, &s.unasked);
    return s;
}

}  // namespace qelo::test
