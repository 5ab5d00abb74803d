#pragma once
// What assistive technology hears of each control: an accessible name that
// says what the control does ("VOL +", "POWER ON", "Cursor up") and, for the
// command buttons, a tooltip with the command code they send. Derived from
// the layout and the command tables, so it cannot drift from them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qelo::panel::accessibility {

// How a control's name behaves once the window runs.
enum class Naming {
    Fixed,    // the name never changes
    Caption,  // the name follows the caption (the data-area toggle)
    Content,  // a display line: its title, then what it shows
};

struct Entry {
    std::string control;      // name in the layout (Command1, Label11, ...)
    std::string name;         // accessible name as the window opens
    std::string tooltip;      // empty: none
    std::string description;  // empty: none
    Naming naming = Naming::Fixed;
};

// One entry per control of the layout and the logo, in layout order.
std::vector<Entry> entries();
// Nothing when the layout has no such control.
std::optional<Entry> find(std::string_view control);

// The name for what the control shows now: for Naming::Caption its current
// caption, for Naming::Content its current text. Fixed names ignore it.
// Line breaks and surrounding blanks the window adds are not part of it.
std::string nameFor(const Entry& entry, std::string_view shown);

}  // namespace qelo::panel::accessibility
