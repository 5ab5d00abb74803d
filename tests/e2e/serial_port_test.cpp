// The serial adapter against a real pseudo-terminal: line settings as the
// kernel sees them, bytes in both directions, failures and a vanishing device.

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "qt/serial_port.h"
#include "support/pty.h"

namespace qelo::test {
namespace {

using platform::LineError;
using platform::qt::QtSerialPort;

// ---- the mapping from port numbers to devices --------------------------

TEST(PortMap, PicksTheNthDeviceInNaturalPathOrderElseTtyS) {
    using platform::qt::deviceAmong;
    const std::vector<std::string> usb{"/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyACM0", "/dev/ttyUSB2"};
    const struct {
        int n;
        std::vector<std::string> devices;
        std::string want;
    } cases[] = {
        {1, {}, "/dev/ttyS0"},
        {2, {}, "/dev/ttyS1"},
        {1, usb, "/dev/ttyACM0"},
        {2, usb, "/dev/ttyUSB2"},
        {3, usb, "/dev/ttyUSB10"},  // duplicates count once
        {4, usb, "/dev/ttyS3"},
        {1, {"/dev/ttyS10", "/dev/ttyS9"}, "/dev/ttyS9"},
    };
    for (const auto& c : cases) EXPECT_EQ(deviceAmong(c.n, c.devices), c.want) << "n=" << c.n;
}

TEST(PortMap, NaturalOrderIsStrict) {
    using platform::qt::naturalLess;
    const char* ascending[] = {"/dev/ttyS", "/dev/ttyS1", "/dev/ttyS01", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyS10a", "/dev/ttyT0"};
    for (std::size_t i = 0; i < std::size(ascending); ++i)
        for (std::size_t j = 0; j < std::size(ascending); ++j)
            EXPECT_EQ(naturalLess(ascending[i], ascending[j]), i < j) << ascending[i] << " vs " << ascending[j];
}

TEST(PortMap, RoutesOverrideTheFallback) {
    auto map = platform::qt::routedPortMap({{1, "/dev/pts/9"}}, [](int n) { return "dev" + std::to_string(n); });
    EXPECT_EQ(map(1), "/dev/pts/9");
    EXPECT_EQ(map(2), "dev2");
}

// ---- the port on a pseudo-terminal -------------------------------------

class PortOnPty : public ::testing::Test {
protected:
    Pty pty;
    QtSerialPort port{platform::qt::routedPortMap({{1, pty.path()}, {2, "/dev/qelo-no-such-port"}})};

    termios line() const {
        termios t{};
        tcgetattr(pty.slave(), &t);
        return t;
    }
    void open(const platform::LineSettings& settings = {19200}) {
        port.setCommPort(1);
        port.setSettings(settings);
        port.setPortOpen(true);
    }
};

TEST_F(PortOnPty, OpensWithTheLineSettingsAndChangesSpeedWhileOpen) {
    open();
    ASSERT_TRUE(port.portOpen());
    termios t = line();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);

    port.setSettings({9600});
    EXPECT_TRUE(port.portOpen());
    EXPECT_EQ(port.settings().text(), "9600,N,8,1");
    t = line();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
}

TEST_F(PortOnPty, SettingsGivenWhileClosedApplyOnOpen) {
    port.setSettings({9600});
    open({9600});
    termios t = line();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
}

TEST_F(PortOnPty, OpeningWritesNothing) {
    open();
    port.setPortOpen(false);
    open();
    EXPECT_EQ(pty.receive(300), "");
}

TEST_F(PortOnPty, EveryByteValueTravelsIntactBothWays) {
    std::string all;
    for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
    open();

    port.output(all);
    EXPECT_EQ(pty.receive(), all);

    std::string got;
    int calls = 0;
    port.onComm([&] {
        ++calls;
        EXPECT_EQ(port.commEvent(), platform::SerialPort::ReceiveEvent);
        got += port.input();
    });
    pty.send(all);
    ASSERT_TRUE(spinUntil([&] { return got.size() >= all.size(); }));
    EXPECT_EQ(got, all);
    EXPECT_GE(calls, 1);
    EXPECT_EQ(port.commEvent(), 0);
}

TEST_F(PortOnPty, ReplyInPiecesRaisesAnEventPerPiece) {
    open();
    std::vector<std::string> pieces;
    port.onComm([&] { pieces.push_back(port.input()); });
    pty.send("0");
    ASSERT_TRUE(spinUntil([&] { return pieces.size() == 1; }));
    pty.send("0\r");
    ASSERT_TRUE(spinUntil([&] { return pieces.size() == 2; }));
    EXPECT_EQ(pieces[0], "0");
    EXPECT_EQ(pieces[1], "0\r");
}

TEST_F(PortOnPty, ClosingIsIdempotentAndWritesThenFailNamingTheDevice) {
    open();
    open();  // already open: nothing changes
    EXPECT_TRUE(port.portOpen());
    port.setPortOpen(false);
    port.setPortOpen(false);
    EXPECT_FALSE(port.portOpen());
    try {
        port.output("C00\r");
        FAIL() << "wrote to a closed port";
    } catch (const LineError& e) {
        EXPECT_EQ(std::string(e.what()), pty.path() + " (COM1) is not open: it was closed. Choose a port with COM.");
    }
}

TEST_F(PortOnPty, PortNumberIsNotChangedUnderAnOpenPort) {
    open();
    EXPECT_THROW(port.setCommPort(2), LineError);
    EXPECT_EQ(port.commPort(), 1);
    EXPECT_TRUE(port.portOpen());
    port.setPortOpen(false);
    port.setCommPort(2);
    EXPECT_EQ(port.commPort(), 2);
    EXPECT_THROW(port.setCommPort(0), LineError);
}

TEST_F(PortOnPty, AMissingDeviceFailsToOpenWithTheSystemsWords) {
    port.setCommPort(2);
    try {
        port.setPortOpen(true);
        FAIL() << "opened a device that does not exist";
    } catch (const LineError& e) {
        EXPECT_EQ(std::string(e.what()), "/dev/qelo-no-such-port: No such file or directory");
    }
    EXPECT_FALSE(port.portOpen());
}

TEST_F(PortOnPty, AnImpossibleSpeedLeavesTheOpenLineAlone) {
    open();
    try {
        port.setSettings({0});
        FAIL() << "took a speed of 0";
    } catch (const LineError& e) {
        EXPECT_EQ(std::string(e.what()), pty.path() + ": invalid settings \"0,N,8,1\": the baud rate must be a positive number");
    }
    EXPECT_EQ(port.settings().text(), "19200,N,8,1");
    termios t = line();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
}

TEST_F(PortOnPty, AVanishingDeviceClosesThePortWithoutSpinning) {
    open();
    int events = 0;
    port.onComm([&] { ++events; port.input(); });
    QSignalSpy lost(&port, &QtSerialPort::portLost);
    const LoopCost baseline = loopCost(500);  // the same port, idle on a live line
    pty.dropSlave();
    pty.hangUp();

    ASSERT_TRUE(spinUntil([&] { return !port.portOpen(); }, 2000)) << "port stayed open";
    spinUntil([&] { return lost.count() > 0; }, 1000);
    EXPECT_EQ(lost.count(), 1);

    const LoopCost after = loopCost(500);
    EXPECT_TRUE(asIdleAs(after, baseline, 500))
        << "the event loop kept busy after the device went away: " << describe(after) << " against " << describe(baseline);
    EXPECT_EQ(lost.count(), 1);

    try {
        port.output("CR0\r");
        FAIL() << "wrote to a vanished device";
    } catch (const LineError& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind(pty.path() + " (COM1) is not open: the device went away (", 0), 0u) << what;
        EXPECT_NE(what.find("hung up"), std::string::npos) << what;
    }
}

TEST_F(PortOnPty, AWriteToADeadLineFailsAtOnceAndClosesThePort) {
    open();
    pty.dropSlave();
    pty.hangUp();
    // No event loop turn in between: the write itself must find out.
    EXPECT_THROW(port.output("C00\r"), LineError);
    EXPECT_FALSE(port.portOpen());
    ASSERT_TRUE(spinUntil([&] { return port.lostReason() != ""; }, 1000));
    EXPECT_THROW(port.output("C00\r"), LineError);
}

}  // namespace
}  // namespace qelo::test
