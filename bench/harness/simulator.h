#pragma once
// The simulated projector in a process of its own, on the pseudo-terminal
// it makes; the harness relays the panel's line to it.

#include <QProcess>
#include <QStringList>

#include <string>

namespace qelo::bench {

struct SimCounts {
    long frames = -1;     // well-formed frames received
    long answers = -1;
    long unasked = -1;
};

class Simulator {
public:
    Simulator(const QString& program, const QStringList& args);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Its side of its pseudo-terminal, open for reading and writing.
    int fd() const { return fd_; }
    // A command as typed at its terminal ("chatter 0").
    void command(const std::string& line);
    // Asks it to quit and reads the counts it prints on the way out.
    SimCounts quit();

private:
    QProcess process_;
    int fd_ = -1;
};

}  // namespace qelo::bench
