// The press-and-hold buttons: send on press, repeat while held, stop and
// clear on release.
#include "link/protocol.h"
#include "panel/buttons.h"
#include "panel/find.h"
#include "panel/form1.h"

namespace qelo::panel {

namespace {

// Indexed by RepeatCode; 0, 11 and 12 belong to no button.
constexpr const char* kRepeatTable[] = {
    nullptr, "C09", "C0A", "C3C", "C3D", "C3B", "C3A", "C47", "C46", "C4B", "C4A",
    nullptr, nullptr, "C3F", "C3E", "C20", "C21", "C30", "C31", "C8E", "C8F",
};

constexpr HoldButton kHold[] = {
    // name       code period timeout clear arrow  d.zoom
    {"Command5", 3, kUnchanged, 0, 0, true, false},   // up
    {"Command7", 4, kUnchanged, 0, 0, true, false},   // down
    {"Command9", 5, kUnchanged, 0, 0, true, false},   // left
    {"Command8", 6, kUnchanged, 0, 0, true, false},   // right
    {"Command6", 13, 500, 200, 245, false, false},    // SELECT
    {"Command40", 14, 500, 200, 245, false, false},   // R-CLICK
    {"Command1", 1, 250, 200, 245, false, false},     // VOL +
    {"Command2", 2, 250, 200, 245, false, false},     // VOL -
    {"Command15", 7, 50, 25, 25, false, false},       // Zoom +
    {"Command35", 8, 50, 25, 25, false, false},       // Zoom -
    {"Command36", 9, 50, 25, 25, false, false},       // Focus +
    {"Command37", 10, 50, 25, 25, false, false},      // Focus -
    {"Command30", 15, 250, 200, 245, false, false},   // Bright +
    {"Command42", 16, 250, 200, 245, false, false},   // Bright -
    {"Command48", 17, 250, 200, 245, false, true},    // D.Zoom +
    {"Command49", 18, 250, 200, 245, false, true},    // D.Zoom -
    {"Command50", 19, 250, 200, 245, false, false},   // Keystone +
    {"Command51", 20, 250, 200, 245, false, false},   // Keystone -
};

constexpr int kReplyTimeout = 500;
constexpr int kDisplayClear = 1000;
constexpr int kFastPace = 5;

struct ArrowPace {
    int timeout;
    int clear;
};
// kArrowsAsThey keeps whatever Timer2 and Timer4 hold.
constexpr ArrowPace kMenuArrows{150, 190};
constexpr ArrowPace kFastArrows{5, 5};

}  // namespace

std::span<const HoldButton> holdButtons() { return kHold; }

const HoldButton* findHold(std::string_view name) { return findRow(holdButtons(), name, &HoldButton::name); }

const HoldButton* findHold(std::uint8_t repeatCode) {
    return findRow(holdButtons(), repeatCode, &HoldButton::repeatCode);
}

const char* repeatCommand(std::uint8_t repeatCode) {
    return repeatCode < std::size(kRepeatTable) ? kRepeatTable[repeatCode] : nullptr;
}

void Form1::Command_MouseDown(const std::string& button, const platform::MouseEvent&) {
    const HoldButton* b = findHold(button);
    if (!b) return;
    if (b->arrow) {
        if (ArrowMode == kArrowsMenu || ArrowMode == kArrowsFast) {
            const ArrowPace pace = ArrowMode == kArrowsMenu ? kMenuArrows : kFastArrows;
            timer2_.setInterval(pace.timeout);
            timer4_.setInterval(pace.clear);
        }
        RepeatCode = b->repeatCode;
        SendData = link::frame(repeatCommand(b->repeatCode));
        Hyouji(SendData, kSend);
    } else {
        RepeatCode = b->repeatCode;
        SendData = link::frame(repeatCommand(b->repeatCode));
        Hyouji(SendData, kSend);
        timer1_.setInterval(b->period);
        timer2_.setInterval(b->timeout);
        timer4_.setInterval(b->clear);
    }
    timer1_.setEnabled(true);
}

void Form1::Timer1_Timer() {
    const char* command = repeatCommand(RepeatCode);
    if (!command) return;  // a tick that was already due when the button was released
    SendData = link::frame(command);
    Hyouji(SendData, kSend);
    timer1_.setEnabled(true);
}

void Form1::Command_MouseUp(const std::string& button, const platform::MouseEvent&) {
    const HoldButton* b = findHold(button);
    if (!b) return;
    RepeatCode = 0;
    timer1_.setEnabled(false);
    timer2_.setEnabled(false);
    timer4_.setEnabled(true);
    label11_.setCaption("");
    setRxdCaption("");
    timer2_.setInterval(kReplyTimeout);
    timer4_.setInterval(kDisplayClear);
    RecvData.clear();
    if (b->digitalZoom) {
        timer1_.setInterval(kFastPace);
        ArrowMode = kArrowsFast;
    }
}

}  // namespace qelo::panel
