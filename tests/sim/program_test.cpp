// The real simulator program on a real pseudo-terminal.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <string>

#include "support/simulator.h"

namespace {

using qelo::test::Simulator;

// Bytes up to and including `end`, or what came before a 3 s silence.
std::string readUntil(int fd, char end) {
    std::string got;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 3000) > 0 && read(fd, &c, 1) == 1) {
        got += c;
        if (c == end) break;
    }
    return got;
}

int openRaw(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

std::string exchange(int fd, const std::string& frame) {
    if (write(fd, frame.data(), frame.size()) != (ssize_t)frame.size()) return "write failed";
    return readUntil(fd, '\r');
}

// Stopped as by `kill`, it ends normally and prints its counts.
void expectCountsAtTerm(Simulator& sim, const std::string& counts) {
    const auto summary = sim.terminate();
    EXPECT_EQ(summary.status, 0);
    EXPECT_EQ(summary.printed, counts);
}

TEST(Program, AnswersOnItsPtyAcrossReopenAndCountsOnExit) {
    Simulator sim(QELO_SIM_PATH, {});
    const std::string path = sim.pty();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;

    int fd = openRaw(path);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, "CR0\r"), "80\r");
    EXPECT_EQ(exchange(fd, "C00\r"), "\x06\r");
    EXPECT_EQ(exchange(fd, "C0\rCR1\r"), "1\r");  // the malformed frame gets nothing
    // The panel closes and reopens its port at start-up.
    close(fd);
    fd = openRaw(path);
    EXPECT_EQ(exchange(fd, "CR0\r"), "40\r");
    close(fd);

    expectCountsAtTerm(sim, "frames received 4, malformed frames 1, answers sent 4, unasked sent 0\n");
}

int connectTo(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A serial device server has one line: one client at a time, and the
// projector behind it keeps its state from one connection to the next.
TEST(Program, ServesOneTcpClientAtATimeAndKeepsItsStateBetweenThem) {
    Simulator sim(QELO_SIM_PATH, {"--listen", "127.0.0.1:0"});
    const std::string where = sim.device();
    ASSERT_EQ(where.rfind("tcp://127.0.0.1:", 0), 0u) << where;
    const int port = std::stoi(where.substr(where.rfind(':') + 1));

    int fd = connectTo(port);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, "C00\r"), "\x06\r");
    const int second = connectTo(port);
    ASSERT_GE(second, 0);
    EXPECT_EQ(readUntil(second, '\r'), "");  // closed at once, without a word
    close(second);
    close(fd);

    fd = connectTo(port);
    EXPECT_EQ(exchange(fd, "CR0\r"), "40\r");
    close(fd);
    expectCountsAtTerm(sim, "frames received 2, malformed frames 0, answers sent 2, unasked sent 0\n");
}

// Answers due to a client that has left go nowhere and are not counted; a
// client that says nothing is let go; a crowd of connects is taken at once,
// not left to the peers' retries a second later.
TEST(Program, NoClientHoldsTheTcpLine) {
    using Clock = std::chrono::steady_clock;
    int argc = 0;
    QCoreApplication events(argc, nullptr);  // the log arrives through it
    Simulator sim(QELO_SIM_PATH, {"--listen", "0", "--idle-timeout", "1"});
    const std::string where = sim.device();
    const int port = std::stoi(where.substr(where.rfind(':') + 1));

    sim.command("delay 300");
    ASSERT_TRUE(sim.logged("reply delay 300 ms"));
    int fd = connectTo(port);
    ASSERT_EQ(write(fd, "CR0\r", 4), 4);
    close(fd);
    EXPECT_TRUE(sim.logged("connection closed: by the client, 1 answer not sent"));
    sim.command("delay 10");
    ASSERT_TRUE(sim.logged("reply delay 10 ms"));

    fd = connectTo(port);
    EXPECT_EQ(readUntil(fd, '\r'), "");
    close(fd);
    EXPECT_TRUE(sim.logged("connection closed: idle for 1 s"));

    const auto exchanged = Clock::now();
    fd = connectTo(port);
    EXPECT_EQ(exchange(fd, "CR0\r"), "80\r");
    close(fd);
    const auto baseline = Clock::now() - exchanged;
    Clock::duration slowest{};
    for (int i = 0; i < 500; ++i) {
        const auto start = Clock::now();
        fd = connectTo(port);
        slowest = std::max(slowest, Clock::now() - start);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    EXPECT_LT(slowest, 20 * baseline);
    expectCountsAtTerm(sim, "frames received 2, malformed frames 0, answers sent 1, unasked sent 0\n");
}

// Under nohup a hang-up must leave it running; a termination still ends it.
TEST(Program, AnIgnoredHangUpStaysIgnored) {
    QProcess sim;
    sim.setChildProcessModifier([] { std::signal(SIGHUP, SIG_IGN); });
    sim.start(QELO_SIM_PATH, {"--listen", "0", "--quiet"});
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    ::kill(static_cast<pid_t>(sim.processId()), SIGHUP);
    EXPECT_FALSE(sim.waitForFinished(1000)) << "ended on an ignored hang-up";
    ::kill(static_cast<pid_t>(sim.processId()), SIGTERM);
    EXPECT_TRUE(sim.waitForFinished(5000));
}

// Told to stop, it stops, however busy its standard input keeps it.
TEST(Program, StopsOnEachSignalWhateverItsStandardInputDoes) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        for (const QString source : {"yes", "/dev/zero"}) {
            QProcess feeder, sim;
            if (source == "yes")
                feeder.setStandardOutputProcess(&sim);
            else
                sim.setStandardInputFile(source);
            sim.setStandardErrorFile(QProcess::nullDevice());
            sim.start(QELO_SIM_PATH, {"--listen", "0", "--quiet"});
            if (source == "yes") feeder.start("yes", {"status"});
            ASSERT_TRUE(sim.waitForReadyRead(5000));  // where it listens: the loop runs
            ::kill(static_cast<pid_t>(sim.processId()), signal);
            const bool stopped = sim.waitForFinished(5000);
            EXPECT_TRUE(stopped) << strsignal(signal) << ", standard input " << source.toStdString();
            EXPECT_TRUE(sim.readAllStandardOutput().contains("frames received 0"));
            if (!stopped) sim.kill();
            feeder.kill();
            sim.waitForFinished();
            feeder.waitForFinished();
        }
    }
}

TEST(Program, HangupEndsTheLineForThePanel) {
    Simulator sim(QELO_SIM_PATH, {"--quiet"});
    int fd = openRaw(sim.pty());
    EXPECT_EQ(exchange(fd, "CR4\r"), "11\r");
    sim.command("garbage on\nhangup");
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 3000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    char c;
    EXPECT_LE(read(fd, &c, 1), 0);
    close(fd);
    EXPECT_EQ(sim.exitStatus(), 0);
}

TEST(Program, RejectsABadCommandLine) {
    for (const QStringList& args : {QStringList{"--baud", "fast"}, {"--state", "99"}, {"--bogus"}, {"a", "b"}}) {
        QProcess sim;
        sim.start(QELO_SIM_PATH, args);
        ASSERT_TRUE(sim.waitForFinished(3000)) << args[0].toStdString();
        EXPECT_EQ(sim.readAllStandardOutput(), "");
        EXPECT_EQ(sim.exitStatus() == QProcess::NormalExit ? sim.exitCode() : -1, 1) << args[0].toStdString();
    }
}

}  // namespace
