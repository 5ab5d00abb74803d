// qelo-ctl as a site runs it: through Debian's ser2net, started here from a
// configuration written here, with the simulated projector on the
// pseudo-terminal behind it. Every address is on loopback.

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "support/simulator.h"

namespace {

int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The pty's output speed as the server left it.
speed_t speedOf(const std::string& pty) {
    const int fd = ::open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    const bool ok = fd >= 0 && tcgetattr(fd, &t) == 0;
    if (fd >= 0) ::close(fd);
    return ok ? cfgetospeed(&t) : B0;
}

class SerialServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable("ser2net").isEmpty())
            GTEST_SKIP() << "ser2net is not installed (scripts/deps installs it)";
        sim_ = std::make_unique<qelo::test::Simulator>(QELO_SIM_PATH, QStringList{"--quiet", "--state", "80", "--hours", "1234"});
        raw_ = freePort(), bad_ = freePort(), telnet_ = freePort();
        // Debian's stock banner, as /etc/ser2net.yaml has it.
        const QString config = QString(R"(%YAML 1.1
---
define: &banner \r\nser2net port \p device \d [\B] (Debian GNU/Linux)\r\n\r\n
connection: &raw
    accepter: tcp,127.0.0.1,%1
    options:
      banner: *banner
    connector: serialdev,%4,19200n81,local
connection: &bad
    accepter: tcp,127.0.0.1,%2
    options:
      banner: *banner
    connector: serialdev,%5,19200n81,local
connection: &telnet
    accepter: telnet(rfc2217),tcp,127.0.0.1,%3
    options:
      banner: *banner
    connector: serialdev,%4,19200n81,local
)")
                                   .arg(raw_).arg(bad_).arg(telnet_)
                                   .arg(QString::fromStdString(sim_->device()), dir_.filePath("no-such-tty"));
        QFile file(dir_.filePath("ser2net.yaml"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(config.toUtf8());
        file.close();
        server_.setProcessChannelMode(QProcess::MergedChannels);
        server_.start("ser2net", {"-n", "-d", "-c", file.fileName(), "-P", dir_.filePath("pid")});
        ASSERT_TRUE(server_.waitForStarted());
        // Ready when the port whose device cannot open takes a connection.
        for (;;) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(bad_));
            if (s.waitForConnected(200)) break;
            ASSERT_EQ(server_.state(), QProcess::Running) << server_.readAll().toStdString();
            server_.waitForFinished(50);
        }
    }
    void TearDown() override {
        if (server_.state() == QProcess::NotRunning) return;
        server_.terminate();
        if (!server_.waitForFinished(3000)) server_.kill();
        server_.waitForFinished();
    }

    struct Result {
        int status = -1;
        std::string out, err;
    };
    static Result ctl(const QStringList& args) {
        QProcess p;
        p.start(QELO_CTL_PATH, args);
        if (!p.waitForFinished(20000)) p.kill(), p.waitForFinished();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
                p.readAllStandardError().toStdString()};
    }
    QString at(const char* scheme, int port) const { return QString("%1://127.0.0.1:%2").arg(scheme).arg(port); }

    QTemporaryDir dir_;
    std::unique_ptr<qelo::test::Simulator> sim_;
    QProcess server_;
    int raw_ = 0, bad_ = 0, telnet_ = 0;
};

TEST_F(SerialServer, NoGreetingErrorOrNegotiationPassesForAnAnswer) {
    const struct {
        QString device;
        QStringList actions;
        int status;
        std::string out;
        std::string err;  // must appear
    } cases[] = {
        {at("tcp", raw_), {"status", "l-time", "mode"}, 0, "Stand by\n1234\nComputer\n", ""},
        {at("tcp", bad_), {"l-time"}, 3, "", "the server closed the connection after saying \"Device open failure"},
        {at("tcp", telnet_), {"status"}, 3, "", "this server speaks telnet: use " + at("rfc2217", telnet_).toStdString()},
        {at("rfc2217", telnet_), {"status", "l-time"}, 0, "Stand by\n1234\n", ""},
    };
    for (const auto& c : cases) {
        const Result r = ctl(QStringList{"--device", c.device} + c.actions);
        EXPECT_EQ(r.status, c.status) << c.device.toStdString() << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.device.toStdString();
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
}

TEST_F(SerialServer, Rfc2217SetsTheSpeedOnTheLineBehindTheServer) {
    ASSERT_EQ(speedOf(sim_->device()), B19200);
    QProcess p;
    p.start(QELO_CTL_PATH, {"--device", at("rfc2217", telnet_), "--baud", "9600", "--repeat", "5", "--interval", "300",
                            "status"});
    ASSERT_TRUE(p.waitForStarted());
    bool seen = false;
    while (!seen && !p.waitForFinished(20)) seen = speedOf(sim_->device()) == B9600;
    p.waitForFinished(20000);
    EXPECT_TRUE(seen) << "the pty never ran at 9600 while connected";
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readAllStandardOutput().toStdString(), "Stand by\nStand by\nStand by\nStand by\nStand by\n");
}

}  // namespace
