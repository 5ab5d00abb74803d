// A logout or `kill` ends the programs the way closing the window does: they
// leave their event loop, close the port and exit normally, not by the signal.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>

#include <csignal>
#include <ostream>
#include <string>

namespace qelo::test {
namespace {

struct Case {
    const char* program;
    int signal;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.program << " signal " << c.signal; }

class Termination : public ::testing::TestWithParam<Case> {};

TEST_P(Termination, EndsNormallyWhenAsked) {
    const QString path = QStringLiteral(QELO_BUILD_DIR "/src/app/") + GetParam().program;
    if (!QFileInfo(path).isExecutable()) GTEST_SKIP() << "not built: " << path.toStdString();
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    // As from a terminal: whatever ignores signals around this test must not
    // be inherited.
    p.setChildProcessModifier([] {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
    });
    p.start(path, {});
    ASSERT_TRUE(p.waitForStarted(10000));
    // Time to set up its handlers and reach its event loop.
    p.waitForFinished(1500);
    ASSERT_EQ(p.state(), QProcess::Running) << p.readAll().toStdString();
    ::kill(static_cast<pid_t>(p.processId()), GetParam().signal);
    const bool ended = p.waitForFinished(5000);
    if (!ended) p.kill(), p.waitForFinished();
    ASSERT_TRUE(ended) << "still running after the signal";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << p.readAll().toStdString();
    EXPECT_EQ(p.exitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Programs, Termination,
                         ::testing::Values(Case{"qelo-panel", SIGTERM}, Case{"qelo-panel", SIGINT},
                                           Case{"qelo-panel", SIGHUP}, Case{"qelo-demo", SIGTERM}),
                         [](const auto& info) {
                             std::string name = info.param.program;
                             for (auto& c : name)
                                 if (c == '-') c = '_';
                             return name + "_" + std::to_string(info.param.signal);
                         });

// Under nohup a hang-up must leave the panel running.
TEST(Termination, AnIgnoredHangUpStaysIgnored) {
    const QString path = QStringLiteral(QELO_BUILD_DIR "/src/app/qelo-panel");
    if (!QFileInfo(path).isExecutable()) GTEST_SKIP() << "not built: " << path.toStdString();
    QProcess p;
    p.setChildProcessModifier([] { std::signal(SIGHUP, SIG_IGN); });
    p.start(path, {});
    ASSERT_TRUE(p.waitForStarted(10000));
    p.waitForFinished(1500);
    ASSERT_EQ(p.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(p.processId()), SIGHUP);
    EXPECT_FALSE(p.waitForFinished(1000)) << "ended on an ignored hang-up";
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
}

}  // namespace
}  // namespace qelo::test
