#pragma once
// A private X server for the desktop tiers: Xvfb on the first free display,
// taking clients, ended with the tests; and what the tiers share around it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "qt/setup.h"

namespace qelo::test {

// Exit status that ctest counts as skipped.
constexpr int kSkipped = 77;

// Runs a shell probe until it succeeds or ms pass.
inline bool waitFor(const char* probe, int ms = 15000) {
    for (int waited = 0; std::system(probe) != 0; waited += 50) {
        if (waited > ms) return false;
        ::usleep(50 * 1000);
    }
    return true;
}

// Why a tier cannot run here: the first of its tools not installed; empty
// when all are.
inline std::string missing(std::initializer_list<const char*> tools) {
    for (const char* tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty()) return std::string(tool) + " is not installed";
    return {};
}

// A server a test starts: it goes when the test does, even when the test
// dies (left running, it would hold ctest's pipe until its time-out).
class Server : public QProcess {
public:
    Server() {
        setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    }
    ~Server() override { end(); }
    void end() {
        terminate();
        waitForFinished();
    }
};

class XServer {
public:
    // Empty when it takes clients (DISPLAY names it); otherwise why not.
    std::string start() {
        if (std::string why = missing({"Xvfb", "xprop"}); !why.empty()) return why;
        // The server writes the display it chose to its output.
        server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        if (!server_.waitForStarted()) return "Xvfb did not start";
        while (!server_.canReadLine() && server_.waitForReadyRead(15000)) {
        }
        display_ = ":" + server_.readLine().trimmed().toStdString();
        if (display_.size() < 2) return "Xvfb named no display";
        ::setenv("DISPLAY", display_.c_str(), 1);
        // The number comes a little before the server takes clients.
        if (!waitFor("xprop -root >/dev/null 2>&1")) return "Xvfb took no clients";
        return {};
    }

    const std::string& display() const { return display_; }

private:
    Server server_;
    std::string display_;
};

// A real pointer and keyboard, as a user's.
inline bool xdotool(const QStringList& args) { return QProcess::execute(QStringLiteral("xdotool"), args) == 0; }

// Starts the tier's desktop, then runs its tests, or says why they are
// skipped.
template <typename Desktop>
int runOn(Desktop& desktop, const char* tier, int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (const std::string why = desktop.start(); !why.empty()) {
        std::printf("%s: skipped: %s\n", tier, why.c_str());
        return kSkipped;
    }
    QApplication app(argc, argv);
    platform::qt::setupLook(app);
    return RUN_ALL_TESTS();
}

}  // namespace qelo::test
