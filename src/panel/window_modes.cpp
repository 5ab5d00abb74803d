// Compact and expanded window, and the port panel that hides itself.
#include "panel/form1.h"
#include "panel/layout.h"

namespace qelo::panel {

namespace {
constexpr int kKeyH = 72;
}  // namespace

using namespace layout;

void Form1::Form_KeyDown(int keyCode, int shift) {
    constexpr int kModifiers = platform::ShiftBit | platform::CtrlBit | platform::AltBit;
    if ((shift & kModifiers) != platform::CtrlBit || keyCode != kKeyH) return;
    window_.setHeight(kShortcutHeight);
    command34_.setCaption(kCloseData);
    command34_.setVisible(true);
}

void Form1::Command34_Click() {
    // Off and on again: the port panel hides 5 s after the last toggle.
    timer3_.setEnabled(false);
    if (window_.heightTwips() < kExpandedThreshold) {
        window_.setHeight(kToggleHeight);
        command34_.setCaption(kHideData);
    } else {
        window_.setHeight(kCompactHeight);
        command34_.setCaption(kShowData);
    }
    timer3_.setEnabled(true);
}

void Form1::Command33_Click() {
    frame8_.setVisible(true);
    // A second COM press gives the panel its full 5 s again.
    timer3_.setEnabled(false);
    timer3_.setEnabled(true);
}

void Form1::Timer3_Timer() {
    frame8_.setVisible(false);
    timer3_.setEnabled(false);
}

}  // namespace qelo::panel
