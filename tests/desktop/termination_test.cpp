// A logout or `kill` ends the programs the way closing the window does: they
// leave their event loop, close the port and exit normally, not by the signal.
// A signal is sent once the program handles it, never after a guessed delay.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <ostream>
#include <string>

namespace qelo::test {
namespace {

// The demo, whose ports lead to a simulator: a test must not open the
// machine's own serial ports, and the panel's termination is the same code.
constexpr const char* kDemo = QELO_BUILD_DIR "/src/app/qelo-demo";

// Whether a process has its own handler for a signal yet, read from the
// kernel: from then on the signal is a request to leave, whenever it comes.
bool catches(qint64 pid, int signal) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (QByteArray line; !(line = status.readLine()).isEmpty();)
        if (line.startsWith("SigCgt:")) return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// Starts a program and waits until it handles the termination signals.
bool startReady(QProcess& p, const QString& path) {
    p.start(path, {});
    if (!p.waitForStarted(10000)) return false;
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && p.state() == QProcess::Running) {
        if (catches(p.processId(), SIGTERM) && catches(p.processId(), SIGINT)) return true;
        QThread::msleep(5);
    }
    return false;
}

struct Case {
    int signal;
};

void PrintTo(const Case& c, std::ostream* os) { *os << "signal " << c.signal; }

class Termination : public ::testing::TestWithParam<Case> {};

TEST_P(Termination, EndsNormallyWhenAsked) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    // As from a terminal: whatever ignores signals around this test must not
    // be inherited.
    p.setChildProcessModifier([] {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
    });
    ASSERT_TRUE(startReady(p, kDemo)) << p.readAll().toStdString();
    ::kill(static_cast<pid_t>(p.processId()), GetParam().signal);
    const bool ended = p.waitForFinished(5000);
    if (!ended) p.kill(), p.waitForFinished();
    ASSERT_TRUE(ended) << "still running after the signal";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << p.readAll().toStdString();
    EXPECT_EQ(p.exitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Programs, Termination,
                         ::testing::Values(Case{SIGTERM}, Case{SIGINT}, Case{SIGHUP}),
                         [](const auto& info) { return "qelo_demo_" + std::to_string(info.param.signal); });

// Under nohup a hang-up must leave the panel running.
TEST(Termination, AnIgnoredHangUpStaysIgnored) {
    QProcess p;
    p.setChildProcessModifier([] { std::signal(SIGHUP, SIG_IGN); });
    ASSERT_TRUE(startReady(p, kDemo));
    ::kill(static_cast<pid_t>(p.processId()), SIGHUP);
    EXPECT_FALSE(p.waitForFinished(1000)) << "ended on an ignored hang-up";
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
}

}  // namespace
}  // namespace qelo::test
