// The real panel on a pseudo-terminal whose far end the test plays.

#include <gtest/gtest.h>

#include "support/panel.h"

namespace qelo::test {
namespace {

class PanelOnPty : public ::testing::Test {
protected:
    Pty pty;
    Panel panel{pty.path()};
};

TEST_F(PanelOnPty, StartUpOpensCom1At19200_8N1AndSendsNothing) {
    ASSERT_TRUE(panel.port.portOpen());
    EXPECT_EQ(panel.port.device(), pty.path());
    termios t{};
    tcgetattr(pty.slave(), &t);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_EQ(pty.receive(300), "");
    EXPECT_TRUE(panel.messages.empty());
}

TEST_F(PanelOnPty, StatusGoesOutAndItsReplyIsShownInWords) {
    panel.click("Command44");
    EXPECT_EQ(pty.receive(), "CR0\r");
    EXPECT_EQ(panel.caption("Label11"), " C R 0 CR ");
    pty.send("0");
    pty.send("0\r");
    EXPECT_TRUE(panel.shows("Label25", " Power ON")) << panel.caption("Label25");
    EXPECT_EQ(panel.caption("Label12"), " 0 0 CR ");
}

TEST_F(PanelOnPty, HoldingVolPlusRepeatsC09UntilReleased) {
    panel.press("Command1");
    EXPECT_EQ(panel.window.timer("Timer1").interval(), 250);
    spinFor(1100);
    panel.release("Command1");
    const auto sent = frames(pty.receive(500, 300));
    // One on the press and one every 250 ms; a busy machine may lose a tick.
    EXPECT_GE(sent.size(), 3u);
    EXPECT_LE(sent.size(), 6u);
    for (const auto& f : sent) EXPECT_EQ(f, "C09");
    EXPECT_EQ(pty.receive(600), "") << "repeat went on after the release";
}

TEST_F(PanelOnPty, EndClosesThePort) {
    ASSERT_TRUE(panel.port.portOpen());
    panel.click("Command16");
    EXPECT_FALSE(panel.port.portOpen());
    EXPECT_TRUE(panel.messages.empty());
}

TEST_F(PanelOnPty, AHangUpLeavesThePanelIdleAndTheNextSendIsReported) {
    const LoopCost baseline = loopCost(500);  // the same panel, idle on a live line
    pty.hangUp();
    ASSERT_TRUE(spinUntil([&] { return !panel.port.portOpen(); }, 2000)) << "port stayed open";

    const LoopCost after = loopCost(500);
    EXPECT_TRUE(asIdleAs(after, baseline, 500))
        << "the panel kept busy after the hang-up: " << describe(after) << " against " << describe(baseline);

    panel.click("Command44");
    ASSERT_EQ(panel.messages.size(), 1u);
    // Which port, which device, what became of it and what to do.
    EXPECT_EQ(panel.messages[0].rfind(pty.path() + " (COM1) is not open: the device went away", 0), 0u)
        << panel.messages[0];
    EXPECT_NE(panel.messages[0].find(". Choose a port with COM."), std::string::npos) << panel.messages[0];
    // The failed send touched nothing.
    EXPECT_EQ(panel.caption("Label11"), "");
    EXPECT_FALSE(panel.window.timer("Timer2").enabled());
}

}  // namespace
}  // namespace qelo::test
