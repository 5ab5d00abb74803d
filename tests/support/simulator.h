#pragma once
// The simulated projector in a process of its own, on the pseudo-terminal it
// makes itself: for the end-to-end tests, the programs' tests and the
// benchmarks.

#include <QProcess>
#include <QStringList>

#include <string>

namespace qelo::test {

// What it prints on the way out.
struct SimulatorSummary {
    long frames = -1;  // well-formed frames received
    long malformed = -1;
    long answers = -1;
    long unasked = -1;
    int status = -1;      // its exit status, -1 when it did not exit by itself
    std::string printed;  // all of its output after the PTY line
};

class Simulator {
public:
    // Starts it and waits for the line that says where it listens; throws
    // when none comes.
    Simulator(const QString& program, const QStringList& args);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Where it listens: its pseudo-terminal, or tcp://host:port with --listen.
    const std::string& device() const { return device_; }
    const std::string& pty() const { return device_; }
    // Its pseudo-terminal opened here too, non-blocking, for a relay.
    int fd();
    // Its log so far; it arrives as the event loop runs.
    const std::string& log() const { return log_; }
    bool logged(const std::string& text, int ms = 3000) const;
    // A run-time command, as typed at its terminal ("hangup", "state 88").
    void command(const std::string& line);
    bool running() const { return process_.state() == QProcess::Running; }
    // Asks it to quit and reads its summary; the counts stay -1 when it
    // printed none in time.
    SimulatorSummary quit(int ms = 5000);
    // The same, stopped as by `kill`.
    SimulatorSummary terminate(int ms = 5000);
    // Waits for it to end by itself: its exit status, or -1.
    int exitStatus(int ms = 3000);

private:
    SimulatorSummary summary(int ms);

    QProcess process_;
    std::string device_;
    std::string log_;
    int fd_ = -1;
};

}  // namespace qelo::test
