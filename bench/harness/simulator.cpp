#include "harness/simulator.h"

#include <QDeadlineTimer>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace qelo::bench {

Simulator::Simulator(const QString& program, const QStringList& args) {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(program, args);
    if (!process_.waitForStarted(5000)) throw std::runtime_error("the simulator did not start: " + program.toStdString());
    QDeadlineTimer deadline(5000);
    while (!process_.canReadLine()) {
        if (deadline.hasExpired() || process_.state() != QProcess::Running)
            throw std::runtime_error("the simulator named no pty: " + process_.readAllStandardError().toStdString());
        process_.waitForReadyRead(50);
    }
    const std::string line = process_.readLine().trimmed().toStdString();
    if (line.rfind("PTY ", 0) != 0) throw std::runtime_error("the simulator said: " + line);
    fd_ = ::open(line.substr(4).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("cannot open the simulator's " + line.substr(4));
}

Simulator::~Simulator() {
    if (fd_ >= 0) ::close(fd_);
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(2000);
}

void Simulator::command(const std::string& line) {
    process_.write((line + "\n").c_str());
    process_.waitForBytesWritten(1000);
}

SimCounts Simulator::quit() {
    SimCounts c;
    command("quit");
    if (!process_.waitForFinished(5000)) return c;
    const QByteArray out = process_.readAllStandardOutput();
    for (const QByteArray& line : out.split('\n')) {
        if (!line.startsWith("frames received")) continue;
        long malformed = 0;
        std::sscanf(line.constData(), "frames received %ld, malformed frames %ld, answers sent %ld, unasked sent %ld",
                    &c.frames, &malformed, &c.answers, &c.unasked);
    }
    return c;
}

}  // namespace qelo::bench
