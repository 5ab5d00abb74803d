// The buttons that send one command per click.
#include "link/protocol.h"
#include "panel/buttons.h"
#include "panel/find.h"
#include "panel/form1.h"

namespace qelo::panel {

namespace {
constexpr OneShotButton kOneShot[] = {
    {"Command17", "C00", false}, {"Command18", "C02", false},  // POWER
    {"Command27", "C05", false}, {"Command29", "C06", false},  // INPUT SELECT
    {"Command19", "C0B", false}, {"Command20", "C0C", false},  // AUDIO MUTE
    {"Command21", "C0D", false}, {"Command22", "C0E", false},  // VIDEO MUTE
    {"Command31", "C0F", false}, {"Command32", "C10", false},  // VIDEO SCREEN
    {"Command23", "C1C", true},  {"Command24", "C1D", false},  // MENU
    {"Command25", "C43", false}, {"Command26", "C44", false},  // FREEZE
    {"Command54", "C2A", false}, {"Command55", "C2B", false},  // POWER MANAGEMENT
    {"Command41", "C28", false}, {"Command43", "C29", false},  // ON START
    {"Command13", "C89", true},                                // A-IMAGE
    {"Command53", "C27", false},                               // IMAGE
    {"Command14", "C8A", false},                               // P-TIMER
    {"Command3", "C1E", false},                                // DISPLAY CLEAR
    {"Command44", "CR0", false}, {"Command45", "CR1", false},  // STATUS, MODE
    {"Command46", "CR3", false}, {"Command47", "CR4", false},  // L-TIME, SETTING
    {"Command52", "C01", false},
};
constexpr int kMenuPace = 200;
}  // namespace

std::span<const OneShotButton> oneShotButtons() { return kOneShot; }

const OneShotButton* findOneShot(std::string_view name) {
    return findRow(oneShotButtons(), name, &OneShotButton::name);
}

void Form1::Command_Click(const std::string& button) {
    const OneShotButton* b = findOneShot(button);
    if (!b) return;
    SendData = link::frame(b->code);
    Hyouji(SendData, kSend);
    if (b->menuPace) {
        // Sets the pace of the next arrow hold; starts nothing by itself.
        timer1_.setInterval(kMenuPace);
        ArrowMode = kArrowsMenu;
    }
}

}  // namespace qelo::panel
