// The send path, the receive path and the port's life, on the fake platform.
#include "form_fixture.h"

using namespace qelo;
using qelo::fakes::Op;
using qelo::test::FormTest;

namespace {

using SendTest = FormTest;

TEST_F(SendTest, WritesTheFrameShowsItAndOpensTheReplyWindow) {
    window.labels["Label12"]->setCaption("old rx");
    window.labels["Label25"]->setCaption("old status");
    form.Hyouji(link::frame("C00"), panel::Form1::kSend);

    EXPECT_EQ(port.sent(), std::vector<std::string>{"C00\r"});
    EXPECT_EQ(txd(), " C 0 0 CR ");
    EXPECT_EQ(form.waitReply(), 1);
    EXPECT_TRUE(window.t("Timer2").enabled());
    EXPECT_TRUE(window.t("Timer4").enabled());
    EXPECT_EQ(rxd(), "old rx");
    EXPECT_EQ(status(), "old status");
}

TEST_F(SendTest, AStatusReplyIsShownAndDecodedThenClearedOnTime) {
    click("Command44");  // STATUS
    EXPECT_EQ(port.sent().back(), "CR0\r");
    clock.advance(20);
    port.receive("00\r");
    EXPECT_EQ(rxd(), " 0 0 CR ");
    EXPECT_EQ(status(), " Power ON");
    EXPECT_EQ(form.waitReply(), 0);

    clock.advance(480);  // reply window closes at 500 ms: nothing marked
    EXPECT_EQ(rxd(), " 0 0 CR ");
    EXPECT_EQ(form.recvData(), "");
    EXPECT_FALSE(window.t("Timer2").enabled());

    clock.advance(500);  // display clears at 1000 ms
    EXPECT_EQ(txd(), "");
    EXPECT_EQ(rxd(), "");
    EXPECT_EQ(status(), "");
    EXPECT_FALSE(window.t("Timer4").enabled());
}

TEST_F(SendTest, AReplyInPiecesIsDecodedFromTheWhole) {
    click("Command44");
    window.labels["Label25"]->setCaption(" Stand by");
    port.receive("0");
    EXPECT_EQ(rxd(), " 0 ");
    EXPECT_EQ(status(), " Stand by");
    port.receive("0\r");
    EXPECT_EQ(rxd(), " 0 0 CR ");
    EXPECT_EQ(status(), " Power ON");
}

TEST_F(SendTest, HourCountGrowsWithEachPiece) {
    click("Command46");  // L-TIME
    port.receive("1");
    EXPECT_EQ(status(), " 1  Hour");
    port.receive("2345\r");
    EXPECT_EQ(status(), " 1 2 3 4 Hour");
}

TEST_F(SendTest, TheSameKeyMeansWhatTheLastQueryAsked) {
    click("Command47");  // SETTING
    port.receive("00\r");
    EXPECT_EQ(status(), " Top/Bottom , Left/Right reversal");
    clock.advance(1000);
    click("Command44");  // STATUS
    port.receive("00\r");
    EXPECT_EQ(status(), " Power ON");
}

TEST_F(SendTest, NoReplyIsMarkedAndForgotten) {
    click("Command44");
    clock.advance(499);
    EXPECT_EQ(rxd(), "");
    clock.advance(1);
    EXPECT_EQ(rxd(), link::kTimeoutMark);
    EXPECT_EQ(form.waitReply(), 0);
    EXPECT_EQ(status(), "");
    clock.advance(500);
    EXPECT_EQ(rxd(), "");
}

TEST_F(SendTest, ALateReplyReplacesTheMarkAndIsDecoded) {
    click("Command44");
    clock.advance(600);
    ASSERT_EQ(rxd(), link::kTimeoutMark);
    port.receive("80\r");
    EXPECT_EQ(rxd(), " 8 0 CR ");
    EXPECT_EQ(status(), " Stand by");
}

TEST_F(SendTest, AReplyAfterAnotherCommandIsShownButNotDecoded) {
    click("Command44");
    click("Command18");  // POWER OFF before the reply
    port.receive("00\r");
    EXPECT_EQ(rxd(), " 0 0 CR ");
    EXPECT_EQ(status(), "");
}

TEST_F(SendTest, CharactersBeforeTheTimeoutStayInFrontOfTheNextReply) {
    click("Command17");
    port.receive("\x06\r");
    click("Command44");
    port.receive("00\r");
    EXPECT_EQ(rxd(), " ACK CR 0 0 CR ");
    EXPECT_EQ(status(), "");  // the decoder sees the older characters first
}

TEST_F(SendTest, WhatArrivedOutsideAReplyWindowIsNotReadAsTheNextReply) {
    window.b("Command1").press();
    window.b("Command1").release();
    port.receive("\x06\r");  // the hold's acknowledgement, after the release
    clock.advance(3000);
    click("Command46");  // L-TIME
    port.receive("1234\r");
    EXPECT_EQ(status(), " 1 2 3 4 Hour");
    EXPECT_EQ(rxd(), " 1 2 3 4 CR ");
}

TEST_F(SendTest, EventsOtherThanReceiveChangeNothing) {
    click("Command44");
    port.raise(3);
    EXPECT_EQ(rxd(), "");
    EXPECT_EQ(form.waitReply(), 1);
}

TEST_F(SendTest, ReceivedTextIsCappedUntilItIsNextEmptied) {
    const std::string chunk(10000, '7');
    for (int i = 0; i < 3; ++i) port.receive(chunk);
    // A receive event hands the line what arrived, never all that was kept.
    auto& line = *window.labels.at("Label12");
    line.handed = 0;
    port.receive("7");
    EXPECT_LE(line.handed, link::render("7").size());
    for (int i = 0; i < 2; ++i) port.receive(chunk);
    EXPECT_EQ(form.recvData().size(), panel::Form1::kRecvLimit);
    EXPECT_EQ(rxd().size(), 1 + 2 * panel::Form1::kRecvLimit);
    click("Command44");
    clock.advance(500);
    port.receive("00\r");
    EXPECT_EQ(form.recvData(), "00\r");
    EXPECT_EQ(status(), " Power ON");
}

TEST_F(SendTest, AFailedWriteTouchesNothingAndIsReportedOnce) {
    port.fail(Op::Output, "/dev/ttyS0: Input/output error");
    window.labels["Label11"]->setCaption("before");
    click("Command17");

    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(txd(), "before");
    EXPECT_EQ(form.waitReply(), 0);
    EXPECT_FALSE(window.t("Timer2").enabled());
    EXPECT_FALSE(window.t("Timer4").enabled());
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "/dev/ttyS0: Input/output error");
    EXPECT_EQ(window.boxes[0].title, "VID7IRID");

    port.heal();
    click("Command17");  // the panel goes on
    EXPECT_EQ(port.sent(), std::vector<std::string>{"C00\r"});
}

// ---- start-up ---------------------------------------------------------------

class StartUp : public ::testing::Test, protected fakes::FakePanel {};

TEST_F(StartUp, OpensPort1TwiceAndSendsNothing) {
    form.Form_Load();
    EXPECT_EQ(port.log, (std::vector<std::string>{"port 1", "settings 19200,N,8,1", "open", "close",
                                                  "port 1", "open"}));
    EXPECT_TRUE(port.writes.empty());
    EXPECT_TRUE(port.portOpen());
    EXPECT_EQ(form.portSettings().text(), "19200,N,8,1");
    EXPECT_TRUE(window.radios["Option1"]->value());
    EXPECT_TRUE(window.radios["Option3"]->value());
    EXPECT_FALSE(window.frames["Frame8"]->visible());
    for (auto& [name, timer] : window.timers) EXPECT_FALSE(timer->enabled()) << name;
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(StartUp, CentresForTheDesignHeightThenGoesCompact) {
    form.Form_Load();
    EXPECT_DOUBLE_EQ(window.left, (1920 * 15 - fakes::FakeWindow::kDesignWidth) / 2);
    EXPECT_DOUBLE_EQ(window.top, (1080 * 15 - fakes::FakeWindow::kDesignHeight) / 2);
    EXPECT_EQ(window.heightTwips(), 5200);
}

TEST_F(StartUp, AMissingPort1OpensTheWindowWithOneWarning) {
    port.fail(Op::Open, "/dev/ttyS0: No such file or directory", 1);
    form.Form_Load();
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(window.heightTwips(), 5200);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "/dev/ttyS0: No such file or directory");
    // The panel is usable: choosing a working port opens it.
    window.radios["Option2"]->select();
    EXPECT_TRUE(port.portOpen());
    EXPECT_EQ(port.commPort(), 2);
}

// ---- port and speed switches -------------------------------------------------

using SwitchTest = FormTest;

TEST_F(SwitchTest, Com2ClosesSetsReopensAndHidesThePanel) {
    window.frames["Frame8"]->setVisible(true);
    window.radios["Option2"]->select();
    EXPECT_EQ(port.log, (std::vector<std::string>{"close", "port 2", "open"}));
    EXPECT_TRUE(port.portOpen());
    EXPECT_FALSE(window.frames["Frame8"]->visible());
    EXPECT_TRUE(window.radios["Option3"]->value());  // the speed group is its own
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(SwitchTest, AFailedSwitchWarnsFallsBackAndThenRecovers) {
    port.fail(Op::Open, "/dev/ttyS1: No such file or directory", 2);
    window.frames["Frame8"]->setVisible(true);
    window.radios["Option2"]->select();

    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "/dev/ttyS1: No such file or directory");
    EXPECT_EQ(window.boxes[0].title, "VID7IRID");
    EXPECT_EQ(port.commPort(), 1);
    EXPECT_FALSE(port.portOpen());
    EXPECT_TRUE(window.radios["Option2"]->value());
    EXPECT_TRUE(window.frames["Frame8"]->visible());

    // Choosing COM1 afterwards really opens port 1.
    window.radios["Option1"]->select();
    EXPECT_TRUE(port.portOpen());
    EXPECT_EQ(port.commPort(), 1);
    EXPECT_FALSE(window.frames["Frame8"]->visible());
    EXPECT_EQ(window.boxes.size(), 1u);
}

TEST_F(SwitchTest, EveryStepRunsAndTheLastFailureIsShown) {
    port.fail(Op::Close, "close failed");
    port.fail(Op::SetPort, "no port 2", 1);  // checked against the port in use
    window.radios["Option2"]->select();
    EXPECT_EQ(port.log, (std::vector<std::string>{"close", "port 2", "port 1"}));
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "no port 2");
}

TEST_F(SwitchTest, SpeedAppliesToTheOpenPortAtOnce) {
    window.frames["Frame8"]->setVisible(true);
    window.radios["Option4"]->select();
    EXPECT_EQ(form.portSettings().text(), "9600,N,8,1");
    EXPECT_EQ(port.log, std::vector<std::string>{"settings 9600,N,8,1"});
    EXPECT_TRUE(port.portOpen());
    EXPECT_FALSE(window.frames["Frame8"]->visible());
    EXPECT_TRUE(window.radios["Option1"]->value());
    window.radios["Option3"]->select();
    EXPECT_EQ(port.settings().text(), "19200,N,8,1");
}

TEST_F(SwitchTest, EndClosesUnloadsAndEndsEvenWhenClosingFails) {
    click("Command16");
    EXPECT_FALSE(port.portOpen());
    EXPECT_TRUE(window.unloaded);
    EXPECT_TRUE(window.ended);

    fakes::FakeClock c2;
    fakes::FakeWindow w2{c2};
    fakes::FakeSerialPort p2{c2};
    panel::Form1 f2{w2, p2};
    p2.fail(Op::Close, "device gone");
    w2.b("Command16").click();
    EXPECT_TRUE(w2.ended);
    EXPECT_TRUE(w2.boxes.empty());
}

}  // namespace
