#pragma once
// What qelo-ctl prints of a run: answers plain, rendered (--raw) or as JSON
// lines (--json), the traffic (--watch), failures and notes on standard
// error. The bridge's result topic carries the same JSON lines.

#include <functional>
#include <iosfwd>
#include <memory>
#include <set>
#include <string>

#include "ctl/runner.h"

namespace qelo::ctl {

// One --json line, without its newline: the device, the action (none for a
// command refused before it reached a line), what was sent and what came.
std::string jsonLine(const std::string& time, const std::string& device, const Action* a, const Exchange& x);

class Printer : public Watcher {
public:
    Printer(const Options& o, std::string device, std::ostream& out, std::ostream& err)
        : o_(o), device_(std::move(device)), out_(out), err_(err) {}

    bool watching() const override { return o_.watch; }
    void traffic(const std::string& stamp, const char* direction, const std::string& rendered) override;
    bool exchanged(const Action& a, const Exchange& x) override;
    // A line that could not be opened: on err, and with --json on out for
    // every action; false when out could not be written.
    bool failedToOpen(const std::string& why);

private:
    const Options& o_;
    std::string device_;
    std::ostream& out_;
    std::ostream& err_;
    std::set<std::string> noted_;  // actions whose note has been said: once is enough for a hold
};

// Whether out took what was written to it; if not, says so on err. A
// record nobody can read must not pass for a run that went well.
bool outputWritten(std::ostream& out, std::ostream& err);

// Opens the line with open() into line and runs o on it, printing as o
// asks; the exit status. A line that cannot be opened gives kPortFailed.
// The run may end inside the line's own signal, so the line is the
// caller's, to drop once the run is over.
using Opener = std::function<Task<std::unique_ptr<Line>>()>;
Task<int> session(Opener open, const std::string& device, const Options& o, std::ostream& out, std::ostream& err,
                  std::unique_ptr<Line>& line);

}  // namespace qelo::ctl
