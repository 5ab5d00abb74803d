// The press-and-hold buttons: send on press, repeat while held, stop and
// clear on release.
#include "link/protocol.h"
#include "panel/buttons.h"
#include "panel/form1.h"

namespace qelo::panel {

namespace {

using layout::Pace;

struct HoldPace {
    int period;   // Timer1 on press
    int timeout;  // Timer2 on press
    int clear;    // Timer4 on press
};
// The arrows keep Timer1's interval and take the others from ArrowMode.
constexpr HoldPace paceOf(Pace pace) {
    switch (pace) {
    case Pace::Pad: return {500, 200, 245};
    case Pace::Lens: return {50, 25, 25};
    default: return {250, 200, 245};  // the adjustments and D.Zoom
    }
}

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

std::vector<const layout::Control*> holdButtons() {
    std::vector<const layout::Control*> out;
    for (const layout::Control& c : layout::controls())
        if (c.code && c.events == layout::Events::PressRelease) out.push_back(&c);
    return out;
}

const layout::Control* heldButton(std::uint8_t repeatCode) {
    if (repeatCode == 0) return nullptr;
    for (const layout::Control& c : layout::controls())
        if (c.repeatCode == repeatCode) return &c;
    return nullptr;
}

void Form1::Command_MouseDown(const layout::Control& button, const platform::MouseEvent&) {
    if (button.pace == Pace::Arrow) {
        if (ArrowMode == kArrowsMenu || ArrowMode == kArrowsFast) {
            const ArrowPace pace = ArrowMode == kArrowsMenu ? kMenuArrows : kFastArrows;
            timer2_.setInterval(pace.timeout);
            timer4_.setInterval(pace.clear);
        }
        RepeatCode = button.repeatCode;
        SendData = link::frame(button.code);
        Hyouji(SendData, kSend);
    } else {
        RepeatCode = button.repeatCode;
        SendData = link::frame(button.code);
        Hyouji(SendData, kSend);
        const HoldPace pace = paceOf(button.pace);
        timer1_.setInterval(pace.period);
        timer2_.setInterval(pace.timeout);
        timer4_.setInterval(pace.clear);
    }
    timer1_.setEnabled(true);
}

void Form1::Timer1_Timer() {
    const layout::Control* held = heldButton(RepeatCode);
    if (!held) return;  // a tick that was already due when the button was released
    SendData = link::frame(held->code);
    Hyouji(SendData, kSend);
    timer1_.setEnabled(true);
}

void Form1::Command_MouseUp(const layout::Control& button, const platform::MouseEvent&) {
    RepeatCode = 0;
    timer1_.setEnabled(false);
    timer2_.setEnabled(false);
    timer4_.setEnabled(true);
    label11_.setCaption("");
    setRxdCaption("");
    timer2_.setInterval(kReplyTimeout);
    timer4_.setInterval(kDisplayClear);
    RecvData.clear();
    if (button.pace == Pace::DigitalZoom) {
        timer1_.setInterval(kFastPace);
        ArrowMode = kArrowsFast;
    }
}

}  // namespace qelo::panel
