// One-shot buttons, press-and-hold repeat and the window modes, on the fake
// platform with the fake clock.
#include <set>
#include <tuple>

#include "form_fixture.h"
#include "panel/buttons.h"

using namespace qelo;
using qelo::fakes::Op;
using qelo::test::FormTest;

namespace {

// ---- every button, as the operator names it ----------------------------------

// The title of the button's group, as the window shows it ("" for a button
// that stands alone), its caption, and what it sends, written out here.
struct Named {
    const char* title;
    const char* caption;
    const char* code;
};

std::string caseName(const Named& n) {
    std::string out = std::string(n.title) + "_" + n.caption;
    for (char& c : out)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return out + "_" + n.code;
}

void PrintTo(const Named& n, std::ostream* os) { *os << n.title << " / " << n.caption << " (" << n.code << ")"; }

// The button the operator means: the one so captioned in the frame the title
// heads, or under the title where it stands on the window itself, or the only
// one so captioned when there is no title. Where the controls stand comes
// from the layout; what they show from the window.
std::string buttonNamed(fakes::FakeWindow& window, const Named& n) {
    namespace layout = panel::layout;
    std::vector<std::string> found;
    auto shows = [&](const layout::Control& c) {
        return c.kind == layout::Kind::Button && window.b(c.name).caption() == n.caption;
    };
    for (const layout::Control& c : layout::controls()) {
        if (!shows(c)) continue;
        if (!*n.title) {
            found.push_back(c.name);
            continue;
        }
        for (const layout::Control& t : layout::controls()) {
            if (t.kind != layout::Kind::Label || window.caption(t.name) != n.title) continue;
            const bool framed = std::string(t.container) != "Form1";
            const bool under = c.top > t.top && c.left < t.left + t.width && t.left < c.left + c.width;
            if (std::string(c.container) == t.container && (framed || under)) found.push_back(c.name);
        }
    }
    return found.size() == 1 ? found[0] : "none or several: " + std::to_string(found.size());
}

struct Click : Named {
    bool menuPace;  // also puts the arrows into their menu pace
};

const Click kClicks[] = {
    {{"POWER", "ON", "C00"}, false},          {{"POWER", "OFF", "C02"}, false},
    {{"INPUT SELECT", "ANALOG", "C05"}, false}, {{"INPUT SELECT", "VIDEO", "C06"}, false},
    {{"AUDIO MUTE", "ON", "C0B"}, false},     {{"AUDIO MUTE", "OFF", "C0C"}, false},
    {{"VIDEO MUTE", "ON", "C0D"}, false},     {{"VIDEO MUTE", "OFF", "C0E"}, false},
    {{"VIDEO SCREEN", "Normal", "C0F"}, false}, {{"VIDEO SCREEN", "Wide", "C10"}, false},
    {{"MENU", "ON", "C1C"}, true},            {{"MENU", "OFF", "C1D"}, false},
    {{"FREEZE", "ON", "C43"}, false},         {{"FREEZE", "OFF", "C44"}, false},
    {{"ON START", "ON", "C28"}, false},       {{"ON START", "OFF", "C29"}, false},
    {{"POWER MANAGEMENT", "ON", "C2A"}, false}, {{"POWER MANAGEMENT", "OFF", "C2B"}, false},
    {{"", "DISPLAY CLEAR", "C1E"}, false},    {{"", "IMAGE", "C27"}, false},
    {{"", "A-IMAGE", "C89"}, true},           {{"", "P-TIMER", "C8A"}, false},
    {{"", "C01", "C01"}, false},              {{"", "STATUS", "CR0"}, false},
    {{"", "MODE", "CR1"}, false},             {{"", "L-TIME", "CR3"}, false},
    {{"", "SETTING", "CR4"}, false},
};

void PrintTo(const Click& c, std::ostream* os) { PrintTo(static_cast<const Named&>(c), os); }

class OneShot : public FormTest, public ::testing::WithParamInterface<Click> {};

TEST_P(OneShot, AClickSendsOneFrameAndStartsNoRepeat) {
    const auto& b = GetParam();
    click(buttonNamed(window, b));
    clock.advance(3000);
    EXPECT_EQ(port.sent(), std::vector<std::string>{std::string(b.code) + "\r"});
    EXPECT_EQ(form.repeatCode(), 0);
    EXPECT_FALSE(window.t("Timer1").enabled());
    EXPECT_EQ(form.arrowMode(), b.menuPace ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Buttons, OneShot, ::testing::ValuesIn(kClicks),
                         [](const auto& info) { return caseName(info.param); });

// ---- press-and-hold ------------------------------------------------------------

struct PaceCase : Named {
    int period;
    int timeout;
    int clear;
};

// The arrows as they are at start-up: Timer1's 200, the reply intervals kept.
const PaceCase kHolds[] = {
    {{"VOL", "+", "C09"}, 250, 200, 245},     {{"VOL", "-", "C0A"}, 250, 200, 245},
    {{"Zoom", "+", "C47"}, 50, 25, 25},       {{"Zoom", "-", "C46"}, 50, 25, 25},
    {{"Focus", "+", "C4B"}, 50, 25, 25},      {{"Focus", "-", "C4A"}, 50, 25, 25},
    {{"Bright", "+", "C20"}, 250, 200, 245},  {{"Bright", "-", "C21"}, 250, 200, 245},
    {{"D.Zoom", "+", "C30"}, 250, 200, 245},  {{"D.Zoom", "-", "C31"}, 250, 200, 245},
    {{"Keystone", "+", "C8E"}, 250, 200, 245}, {{"Keystone", "-", "C8F"}, 250, 200, 245},
    {{"", "SELECT", "C3F"}, 500, 200, 245},   {{"", "R-CLICK", "C3E"}, 500, 200, 245},
    {{"", "↑", "C3C"}, 200, 500, 1000},       {{"", "↓", "C3D"}, 200, 500, 1000},
    {{"", "→", "C3A"}, 200, 500, 1000},       {{"", "←", "C3B"}, 200, 500, 1000},
};

void PrintTo(const PaceCase& c, std::ostream* os) { PrintTo(static_cast<const Named&>(c), os); }

TEST(OperatorNames, NameEveryCommandButtonOnce) {
    fakes::FakePanel panel;
    std::set<std::string> named;
    for (const Named& n : kClicks) named.insert(buttonNamed(panel.window, n));
    for (const Named& n : kHolds) named.insert(buttonNamed(panel.window, n));
    std::set<std::string> all;
    for (const auto& [name, button] : panel.window.buttons) all.insert(name);
    for (const char* other : {"Command16", "Command33", "Command34"}) all.erase(other);  // END, COM, the toggle
    EXPECT_EQ(named, all);
}

TEST(ButtonRows, EveryCatalogueCodeHasOneButtonAndEveryHeldOneItsRepeatCode) {
    std::set<int> repeatCodes;
    for (const auto& e : link::catalogue()) {
        int buttons = 0;
        for (const auto& c : panel::layout::controls()) buttons += c.code && c.code == std::string(e.code);
        EXPECT_EQ(buttons, 1) << e.code;
    }
    for (const auto* b : panel::holdButtons()) {
        EXPECT_TRUE(repeatCodes.insert(b->repeatCode).second) << b->name;
        EXPECT_EQ(panel::heldButton(b->repeatCode), b);
    }
    for (std::uint8_t unused : {0, 11, 12, 21, 255}) EXPECT_EQ(panel::heldButton(unused), nullptr);
}

using Hold = FormTest;

TEST_F(Hold, AQuickPressSendsOnce) {
    window.b("Command1").press();
    clock.advance(249);
    window.b("Command1").release();
    clock.advance(2000);
    EXPECT_EQ(port.sent(), std::vector<std::string>{"C09\r"});
}

class HoldPace : public FormTest, public ::testing::WithParamInterface<PaceCase> {};

TEST_P(HoldPace, RepeatsAtItsPeriodWithItsReplyIntervals) {
    const auto& c = GetParam();
    const long hold = 4 * c.period + c.period / 2;
    const std::string button = buttonNamed(window, c);
    window.b(button).press();
    EXPECT_EQ(window.t("Timer1").interval(), c.period);
    EXPECT_EQ(window.t("Timer2").interval(), c.timeout);
    EXPECT_EQ(window.t("Timer4").interval(), c.clear);
    clock.advance(hold);
    window.b(button).release();
    clock.advance(1000);

    std::vector<long> expected;
    for (long t = 0; t <= hold; t += c.period) expected.push_back(t);
    EXPECT_EQ(writeTimes(), expected);
    for (const auto& w : port.writes) EXPECT_EQ(w.text, std::string(c.code) + "\r");
}

INSTANTIATE_TEST_SUITE_P(Buttons, HoldPace, ::testing::ValuesIn(kHolds),
                         [](const auto& info) { return caseName(info.param); });

TEST_F(Hold, VolumeUpFor1100msSendsFiveTimes) {
    window.b("Command1").press();
    clock.advance(1100);
    window.b("Command1").release();
    EXPECT_EQ(writeTimes(), (std::vector<long>{0, 250, 500, 750, 1000}));
}

TEST_F(Hold, EachRepeatWithoutReplyShowsTheMarkAndClearsBeforeTheNext) {
    window.b("Command1").press();
    clock.advance(200);
    EXPECT_EQ(rxd(), link::kTimeoutMark);
    clock.advance(45);
    EXPECT_EQ(txd(), "");
    clock.advance(5);  // second send at 250
    EXPECT_EQ(txd(), " C 0 9 CR ");
}

struct ArrowCase {
    const char* setup;  // what the operator did before holding the arrow
    int period;
    int timeout;
    int clear;
};

class ArrowPace : public FormTest, public ::testing::WithParamInterface<ArrowCase> {
protected:
    void prepare(const std::string& setup) {
        if (setup == "menu") click("Command23");
        if (setup == "a-image") click("Command13");
        if (setup == "menu-then-off") click("Command23"), click("Command24");
        if (setup == "d.zoom") window.b("Command48").press(), window.b("Command48").release();
        if (setup == "d.zoom-then-vol")
            window.b("Command49").press(), window.b("Command49").release(), window.b("Command1").press(),
                window.b("Command1").release();
        clock.advance(5000);
        port.writes.clear();
    }
};

TEST_P(ArrowPace, TheArrowsTakeTheirPaceFromTheModeAndTimer1) {
    const auto& c = GetParam();
    prepare(c.setup);
    const long start = clock.now();
    window.b("Command8").press();  // right
    EXPECT_EQ(window.t("Timer2").interval(), c.timeout);
    EXPECT_EQ(window.t("Timer4").interval(), c.clear);
    clock.advance(4 * c.period);
    window.b("Command8").release();

    std::vector<long> expected;
    for (int i = 0; i <= 4; ++i) expected.push_back(start + i * c.period);
    EXPECT_EQ(writeTimes(), expected);
    EXPECT_EQ(port.sent().front(), "C3A\r");
}

INSTANTIATE_TEST_SUITE_P(Modes, ArrowPace,
                         ::testing::Values(ArrowCase{"start", 200, 500, 1000}, ArrowCase{"menu", 200, 150, 190},
                                           ArrowCase{"a-image", 200, 150, 190},
                                           ArrowCase{"menu-then-off", 200, 150, 190},
                                           ArrowCase{"d.zoom", 5, 5, 5},
                                           ArrowCase{"d.zoom-then-vol", 250, 5, 5}),
                         [](const auto& info) {
                             std::string n = info.param.setup;
                             std::replace_if(n.begin(), n.end(), [](char c) { return !isalnum(c); }, '_');
                             return n;
                         });

TEST_F(Hold, ArrowModesMoveOnlyBetweenOneAndThree) {
    EXPECT_EQ(form.arrowMode(), 0);
    click("Command23");
    EXPECT_EQ(form.arrowMode(), 1);
    click("Command24");  // MENU OFF
    EXPECT_EQ(form.arrowMode(), 1);
    window.b("Command49").press();
    window.b("Command49").release();
    EXPECT_EQ(form.arrowMode(), 3);
    EXPECT_EQ(window.t("Timer1").interval(), 5);
    click("Command13");
    EXPECT_EQ(form.arrowMode(), 1);
    EXPECT_EQ(window.t("Timer1").interval(), 200);
}

TEST_F(Hold, ReleaseClearsAndRestoresButKeepsTheStatus) {
    click("Command44");
    port.receive("00\r");
    window.b("Command15").press();  // Zoom +
    port.receive("\x06");
    clock.advance(10);
    window.b("Command15").release();

    EXPECT_EQ(form.repeatCode(), 0);
    EXPECT_EQ(txd(), "");
    EXPECT_EQ(rxd(), "");
    EXPECT_EQ(form.recvData(), "");
    EXPECT_EQ(status(), " Power ON");
    EXPECT_FALSE(window.t("Timer1").enabled());
    EXPECT_FALSE(window.t("Timer2").enabled());
    EXPECT_TRUE(window.t("Timer4").enabled());
    EXPECT_EQ(window.t("Timer1").interval(), 50);
    EXPECT_EQ(window.t("Timer2").interval(), 500);
    EXPECT_EQ(window.t("Timer4").interval(), 1000);
    EXPECT_EQ(form.sendData(), "C47\r");

    clock.advance(999);
    EXPECT_EQ(status(), " Power ON");
    clock.advance(1);
    EXPECT_EQ(status(), "");
}

TEST_F(Hold, AClickDuringAHoldSendsOnceAndTheRepeatGoesOn) {
    window.b("Command1").press();
    clock.advance(100);
    click("Command44");  // STATUS from the keyboard while VOL + is held
    clock.advance(150);
    window.b("Command1").release();
    EXPECT_EQ(port.sent(), (std::vector<std::string>{"C09\r", "CR0\r", "C09\r"}));
}

TEST_F(Hold, AnyMouseButtonHoldsAndTheFirstReleaseEnds) {
    window.b("Command2").press(platform::RightButton);
    window.b("Command2").press(platform::MiddleButton);  // a second press sends again
    clock.advance(250);
    window.b("Command2").release(platform::MiddleButton);
    clock.advance(1000);
    EXPECT_EQ(writeTimes(), (std::vector<long>{0, 0, 250}));
}

TEST_F(Hold, KeyboardActivationOfAHoldButtonSendsNothing) {
    window.b("Command1").click();
    EXPECT_TRUE(port.writes.empty());
}

TEST_F(Hold, AFailedSendEndsTheHoldWithOneWarning) {
    window.b("Command1").press();
    clock.advance(250);
    port.fail(Op::Output, "/dev/ttyS0: the device went away");
    clock.advance(2000);

    EXPECT_EQ(port.writes.size(), 2u);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "/dev/ttyS0: the device went away");
    EXPECT_EQ(form.repeatCode(), 0);
    EXPECT_FALSE(window.t("Timer1").enabled());
    EXPECT_EQ(window.t("Timer2").interval(), 500);

    window.b("Command1").release();  // the real release comes later: harmless
    EXPECT_EQ(window.boxes.size(), 1u);

    port.heal();
    window.b("Command1").press();  // a new press holds again
    clock.advance(250);
    EXPECT_EQ(port.writes.size(), 4u);
}

TEST_F(Hold, AFailedFirstSendOfADZoomHoldEndsItAsItsReleaseWould) {
    port.setPortOpen(false);
    window.b("Command48").press();
    clock.advance(1000);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(window.boxes.size(), 1u);
    EXPECT_FALSE(window.t("Timer1").enabled());
    EXPECT_EQ(form.arrowMode(), 3);
}

// ---- window modes --------------------------------------------------------------

using Modes = FormTest;

TEST_F(Modes, OnlyCtrlAloneWithHExpands) {
    for (auto [key, shift] : {std::pair{72, 0}, {72, 3}, {72, 6}, {72, 1}, {71, 2}, {72, 4}}) {
        window.key(key, shift);
        EXPECT_EQ(window.heightTwips(), 5200) << key << "/" << shift;
    }
    EXPECT_FALSE(window.b("Command34").visible());
    window.key(72, 2 | 8);  // bits beyond Shift/Ctrl/Alt do not count
    EXPECT_EQ(window.heightTwips(), 7000);
    EXPECT_EQ(window.b("Command34").caption(), "CLOSE");
    EXPECT_TRUE(window.b("Command34").visible());
    window.key(72, 2);
    EXPECT_EQ(window.heightTwips(), 7000);
}

TEST_F(Modes, TheToggleWalksTheFourStates) {
    window.key(72, 2);
    using Step = std::tuple<double, const char*>;
    for (auto [height, caption] : {Step{5200, "データを表示する"}, Step{6645, "データを表示しない"},
                                   Step{5200, "データを表示する"}}) {
        click("Command34");
        EXPECT_EQ(window.heightTwips(), height);
        EXPECT_EQ(window.b("Command34").caption(), caption);
        EXPECT_TRUE(window.b("Command34").visible());
    }
    window.key(72, 2);
    EXPECT_EQ(window.heightTwips(), 7000);
    EXPECT_EQ(window.b("Command34").caption(), "CLOSE");
}

TEST_F(Modes, ThePortPanelHidesFiveSecondsAfterCom) {
    click("Command33");
    EXPECT_TRUE(window.frames["Frame8"]->visible());
    clock.advance(4999);
    EXPECT_TRUE(window.frames["Frame8"]->visible());
    clock.advance(1);
    EXPECT_FALSE(window.frames["Frame8"]->visible());
    EXPECT_FALSE(window.t("Timer3").enabled());
}

TEST_F(Modes, AChoiceHidesThePanelAtOnceAndTheTimerStillTicksOnce) {
    click("Command33");
    clock.advance(1000);
    window.radios["Option4"]->select();
    EXPECT_FALSE(window.frames["Frame8"]->visible());
    EXPECT_TRUE(window.t("Timer3").enabled());
    clock.advance(4000);
    EXPECT_FALSE(window.t("Timer3").enabled());
}

TEST_F(Modes, AToggleWhileThePanelIsShownRestartsTheFiveSeconds) {
    window.key(72, 2);
    click("Command33");
    clock.advance(3000);
    click("Command34");
    clock.advance(4999);
    EXPECT_TRUE(window.frames["Frame8"]->visible());
    clock.advance(1);
    EXPECT_FALSE(window.frames["Frame8"]->visible());
}

TEST_F(Modes, AFailedSwitchLeavesThePanelUntilTheTimerHidesIt) {
    click("Command33");
    clock.advance(2000);
    port.fail(Op::Open, "/dev/ttyS1: No such file or directory", 2);
    window.radios["Option2"]->select();
    EXPECT_TRUE(window.frames["Frame8"]->visible());
    clock.advance(3000);
    EXPECT_FALSE(window.frames["Frame8"]->visible());
}

}  // namespace
