#pragma once
// The simulated projector in a process of its own, on a pseudo-terminal it
// makes itself.

#include <QProcess>
#include <QStringList>

#include <stdexcept>
#include <string>

#include "pty.h"

namespace qelo::e2e {

class Simulator {
public:
    Simulator(const QString& program, const QStringList& args) {
        QObject::connect(&process_, &QProcess::readyReadStandardError,
                         [this] { log_ += process_.readAllStandardError().toStdString(); });
        process_.start(program, args);
        if (!process_.waitForStarted(5000)) throw std::runtime_error("simulator did not start");
        // Its first line names the pty.
        QDeadlineTimer deadline(5000);
        while (!process_.canReadLine()) {
            if (deadline.hasExpired() || process_.state() != QProcess::Running)
                throw std::runtime_error("simulator named no pty: " + log_);
            process_.waitForReadyRead(100);
        }
        const std::string line = process_.readLine().trimmed().toStdString();
        if (line.rfind("PTY ", 0) != 0) throw std::runtime_error("simulator said: " + line);
        pty_ = line.substr(4);
    }
    ~Simulator() {
        process_.disconnect();
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(2000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }

    const std::string& pty() const { return pty_; }
    // Its log so far; it arrives as the event loop runs.
    const std::string& log() const { return log_; }
    bool logged(const std::string& text, int ms = 3000) const {
        return spinUntil([&] { return log_.find(text) != std::string::npos; }, ms);
    }
    // A run-time command, as typed at its terminal ("hangup", "state 88").
    void command(const std::string& line) {
        process_.write((line + "\n").c_str());
        process_.waitForBytesWritten(1000);
    }
    bool running() const { return process_.state() == QProcess::Running; }

private:
    QProcess process_;
    std::string pty_;
    std::string log_;
};

}  // namespace qelo::e2e
