// qelo-ctl as a script runs it, against the simulated projector on a
// pseudo-terminal.

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include "qt/port_map.h"
#include "support/simulator.h"

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

Result runCtl(const QStringList& args) {
    QProcess p;
    p.start(QELO_CTL_PATH, args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << "qelo-ctl did not finish";
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

// The simulated projector, quiet but for its closing summary.
class Simulator : public qelo::test::Simulator {
public:
    explicit Simulator(QStringList args) : qelo::test::Simulator(QELO_SIM_PATH, args << "--quiet") {}
    QString device() const { return QString::fromStdString(qelo::test::Simulator::device()); }
};

}  // namespace

TEST(Program, ExitStatusesTellWhatHappened) {
    const struct {
        QStringList sim;  // empty: no simulator
        QStringList args;
        int status;
        std::string out;
        std::vector<std::string> err;  // each must appear
    } cases[] = {
        {{"--state", "00", "--hours", "1234"}, {"status", "l-time", "mode", "setting"}, 0,
         "Power ON\n1234\nComputer\nNormally\n", {}},
        {{"--state", "00"}, {"--raw", "status", "power", "off"}, 0, " 0 0 CR \n ACK CR \n", {}},
        {{"--silent"}, {"--timeout", "200", "status"}, 2, "",
         {"qelo-ctl: no reply to \"status\" (CR0) within 200 ms on /dev/pts/"}},
        {{}, {"pwer", "on", "status"}, 1, "",
         {"qelo-ctl: unknown action \"pwer on\" (qelo-ctl --list shows them all)\n", "Usage: qelo-ctl"}},
        {{"--hangup-after", "1"}, {"power", "on", "status"}, 3, "",
         {"qelo-ctl: /dev/pts/", ": the device went away"}},
        {{}, {"--device", "/nonexistent/tty0", "status"}, 3, "",
         {"qelo-ctl: /nonexistent/tty0: No such file or directory\n"}},
        {{"--listen", "0", "--state", "00", "--hours", "1234"}, {"status", "l-time"}, 0, "Power ON\n1234\n", {}},
        {{"--listen", "0", "--silent"}, {"--timeout", "200", "status"}, 2, "",
         {"qelo-ctl: no reply to \"status\" (CR0) within 200 ms on tcp://127.0.0.1:"}},
        {{}, {"--device", "tcp://127.0.0.1:1", "status"}, 3, "", {"qelo-ctl: tcp://127.0.0.1:1: Connection refused\n"}},
        {{}, {"--device", "tcp://127.0.0.1", "status"}, 1, "", {"qelo-ctl: tcp://127.0.0.1 has no port"}},
        // The lock file's name, not a permission, stops a path this long.
        {{}, {"--device", "/tmp/" + QString(246, 'z'), "status"}, 3, "", {"the path is too long to lock the device"}},
    };
    for (const auto& c : cases) {
        QStringList args = c.args;
        std::unique_ptr<Simulator> sim;
        if (!c.sim.isEmpty()) {
            sim = std::make_unique<Simulator>(c.sim);
            args = QStringList{"--device", sim->device()} + args;
        }
        const Result r = runCtl(args);
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << what;
        for (const auto& e : c.err) EXPECT_NE(r.err.find(e), std::string::npos) << what << ": " << r.err;
    }
}

// The run ends inside the line's own events (the answer's arrival): Qt's
// code, which the sanitizers do not see, must not go on with a freed device.
TEST(Program, EndsWithoutTouchingAFreedLine) {
    if (QStandardPaths::findExecutable("valgrind").isEmpty()) GTEST_SKIP() << "no valgrind";
    for (const QStringList& where : {QStringList{}, QStringList{"--listen", "0"}}) {
        Simulator sim(where);
        QProcess p;
        p.start("valgrind", {"-q", "--error-exitcode=99", QELO_CTL_PATH, "--device", sim.device(), "status", "vol +"});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << sim.device().toStdString() << "\n" << p.readAllStandardError().toStdString();
    }
}

// Records nobody can read are a failure, whatever kind of stream lost them.
TEST(Program, LostOutputIsStatusFive) {
    Simulator sim({"--state", "00"});
    const QString ctl = QStringLiteral("'%1' --json --device '%2' status").arg(QELO_CTL_PATH, sim.device());
    for (const QString& script : {ctl + " >/dev/full", ctl + " >&-", QStringLiteral("'%1' --list >/dev/full").arg(QELO_CTL_PATH)}) {
        QProcess p;
        p.start("/bin/sh", {"-c", script});
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), 5) << script.toStdString();
        EXPECT_TRUE(p.readAllStandardError().startsWith("qelo-ctl: standard output could not be written: "))
            << script.toStdString();
    }
}

TEST(Program, PortNumbersMeanThePanelsDevices) {
    const Result r = runCtl({"--port", "42", "status"});
    EXPECT_EQ(r.status, 3);
    const std::string device = qelo::platform::qt::defaultDeviceFor(42);
    EXPECT_EQ(r.err.rfind("qelo-ctl: " + device + ": ", 0), 0u) << r.err;
}

TEST(Program, ListsEveryActionWithItsCode) {
    const Result r = runCtl({"--list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(QString::fromStdString(r.out).count('\n'), 45);
    EXPECT_NE(r.out.find("C0C  audio-mute off "), std::string::npos);
    EXPECT_NE(r.out.find("CR3  l-time "), std::string::npos);
}

TEST(Program, RunsOnSeveralProjectorsAtOnceAndEndsWithTheWorstStatus) {
    Simulator on({"--state", "00", "--hours", "1234"}), standby({"--listen", "0"}), silent({"--silent"});
    const QStringList devices{"--device", on.device(), "--device", standby.device(), "--device", silent.device()};
    const Result text = runCtl(QStringList{"--timeout", "300"} + devices + QStringList{"status", "l-time"});
    EXPECT_EQ(text.status, 2);
    QStringList lines = QString::fromStdString(text.out).split('\n', Qt::SkipEmptyParts);
    lines.sort();
    QStringList expected{on.device() + ": 1234", on.device() + ": Power ON",
                         standby.device() + ": 0", standby.device() + ": Stand by"};
    expected.sort();
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(text.err, "qelo-ctl: no reply to \"status\" (CR0) within 300 ms on " + silent.device().toStdString() + "\n");

    const Result json = runCtl(QStringList{"--json", "--timeout", "300"} + devices + QStringList{"status"});
    EXPECT_EQ(json.status, 2);
    QMap<QString, QJsonObject> byDevice;
    for (const QString& line : QString::fromStdString(json.out).split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        byDevice[o["device"].toString()] = o;
    }
    ASSERT_EQ(byDevice.size(), 3) << json.out;
    EXPECT_EQ(byDevice[on.device()]["words"].toString(), "Power ON");
    EXPECT_EQ(byDevice[standby.device()]["words"].toString(), "Stand by");
    EXPECT_FALSE(byDevice[silent.device()]["ok"].toBool());
}

TEST(Program, RepeatSendsTheGivenNumberOfFrames) {
    Simulator sim({"--state", "00"});
    const Result r = runCtl({"--device", sim.device(), "--repeat", "7", "--interval", "15", "vol", "+"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(sim.quit().frames, 7);
}

TEST(Program, WatchShowsEachFrameAndReplyWithATimeStamp) {
    Simulator sim({"--state", "80"});
    const Result r = runCtl({"--device", sim.device(), "--watch", "power", "on", "status"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Count down\n");
    const QStringList lines = QString::fromStdString(r.err).split('\n', Qt::SkipEmptyParts);
    const QStringList traffic{"TXD C 0 0 CR ", "RXD ACK CR ", "TXD C R 0 CR ", "RXD 4 0 CR "};
    ASSERT_EQ(lines.size(), traffic.size()) << r.err;
    const QRegularExpression stamp("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d $");
    for (qsizetype i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].endsWith(" " + traffic[i])) << lines[i].toStdString();
        EXPECT_TRUE(stamp.match(lines[i].chopped(traffic[i].size())).hasMatch()) << lines[i].toStdString();
    }
}
