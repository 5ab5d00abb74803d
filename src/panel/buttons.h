#pragma once
// The tables that drive the button handlers: one row per button, keyed by
// the button's name.
#include <cstdint>
#include <span>
#include <string_view>

namespace qelo::panel {

struct OneShotButton {
    const char* name;
    const char* code;
    bool menuPace;  // A-IMAGE and MENU ON also set the arrows' menu pace
};
std::span<const OneShotButton> oneShotButtons();
const OneShotButton* findOneShot(std::string_view name);

inline constexpr int kUnchanged = 0;

struct HoldButton {
    const char* name;
    std::uint8_t repeatCode;
    int period;   // Timer1 on press; kUnchanged for the arrows
    int timeout;  // Timer2 on press; the arrows take theirs from ArrowMode
    int clear;    // Timer4 on press; the arrows take theirs from ArrowMode
    bool arrow;
    bool digitalZoom;  // its release sets the arrows' fast pace
};
std::span<const HoldButton> holdButtons();
const HoldButton* findHold(std::string_view name);
const HoldButton* findHold(std::uint8_t repeatCode);

// The command repeated for a RepeatCode, or nullptr for a code no button has.
const char* repeatCommand(std::uint8_t repeatCode);

}  // namespace qelo::panel
