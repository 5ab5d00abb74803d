// qelo-ctl: the projector's functions from the command line, for scripts.

#include <QCoreApplication>
#include <QThread>
#include <fcntl.h>

#include <cerrno>
#include <csignal>
#include <algorithm>
#include <iostream>
#include <memory>
#include <mutex>
#include <streambuf>
#include <vector>

#include "ctl/cli.h"
#include "ctl/qt_line.h"
#include "ctl/report.h"
#include "ctl/runner.h"
#include "qt/port_map.h"

namespace {

using namespace qelo::ctl;

// Whole lines, each behind its device's label, so that runs side by side
// never interleave inside a line. A line that names its device already (a
// failure) is left as it is.
class LabelledLines : public std::streambuf {
public:
    LabelledLines(std::string device, bool label, std::ostream& to, std::mutex& lock)
        : device_(std::move(device)), label_(label), to_(to), lock_(lock) {}
    ~LabelledLines() override { sync(); }

protected:
    int_type overflow(int_type c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        line_.push_back(static_cast<char>(c));
        if (c == '\n' && !flushLine()) return traits_type::eof();
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        for (std::streamsize i = 0; i < n; ++i)
            if (overflow(traits_type::to_int_type(s[i])) == traits_type::eof()) return i;
        return n;
    }
    int sync() override { return line_.empty() || flushLine() ? 0 : -1; }

private:
    // False when the stream below failed, so the failure reaches the writer.
    bool flushLine() {
        if (line_.back() != '\n') line_.push_back('\n');
        const auto at = line_.find(device_);
        const bool named = at != std::string::npos && (line_[at + device_.size()] == ':' || line_[at + device_.size()] == '\n');
        std::lock_guard guard(lock_);
        to_ << (label_ && !named ? device_ + ": " : std::string()) << line_ << std::flush;
        line_.clear();
        return !to_.fail();
    }

    std::string device_;
    bool label_;
    std::ostream& to_;
    std::mutex& lock_;
    std::string line_;
};

struct Target {
    std::string device;  // as given; empty for a port number
    int port = 1;
};

Task<std::unique_ptr<Line>> openLine(const Target& t, const Options& o) { return qelo::ctl::openLine(t.device, t.port, o.baud); }

std::string nameOf(const Target& t) {
    return t.device.empty() ? qelo::platform::qt::defaultDeviceFor(t.port) : t.device;
}

// A closed standard stream would hand its number to the next file opened,
// the port itself perhaps, and output would go to the projector. A read-only
// /dev/null in its place makes every write to it fail instead.
void holdClosedStreams() {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDONLY) != fd) return;
}

int printed(const std::string& text) {
    std::cout << text << std::flush;
    return outputWritten(std::cout, std::cerr) ? kDone : kOutputLost;
}

}  // namespace

int main(int argc, char** argv) {
    holdClosedStreams();
    // A reader that went away is a write error here, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    const char* program = "qelo-ctl";
    const ParseResult parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::cerr << program << ": " << parsed.error << '\n' << usage(program) << "Try '" << program << " --help' for more.\n";
        return kBadUsage;
    }
    const Options& o = *parsed.options;
    if (o.help) return printed(helpText(program));
    if (o.version) return printed(qelo::cmdline::versionText(program));
    if (o.list) return printed(listingText());

    QCoreApplication app(argc, argv);
    std::vector<Target> targets;
    for (const auto& d : o.devices) targets.push_back({d, 1});
    for (int p : o.ports) targets.push_back({{}, p});
    if (targets.empty()) targets.push_back({{}, 1});

    if (targets.size() == 1) {
        const Target& t = targets[0];
        return runSession([&] { return openLine(t, o); }, nameOf(t), o, std::cout, std::cerr);
    }

    // Each device on a thread of its own with its own event loop: a slow
    // projector holds up nobody else.
    std::mutex lock;
    std::vector<int> statuses(targets.size(), kDone);
    std::vector<std::unique_ptr<QThread>> threads;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        threads.emplace_back(QThread::create([&, i] {
            const std::string name = nameOf(targets[i]);
            // JSON lines carry their device; a label would break them.
            LabelledLines outLines(name, !o.json, std::cout, lock);
            LabelledLines errLines(name, true, std::cerr, lock);
            std::ostream out(&outLines), err(&errLines);
            statuses[i] = runSession([&] { return openLine(targets[i], o); }, name, o, out, err);
        }));
        threads.back()->start();
    }
    for (auto& t : threads) t->wait();
    return *std::max_element(statuses.begin(), statuses.end());
}
