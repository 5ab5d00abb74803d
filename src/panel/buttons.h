#pragma once
// The command buttons are rows of the layout (layout.h): each names the
// catalogue entry it sends by its code, and a held one carries its
// RepeatCode and pace. The handlers are bound with their row.
#include <cstdint>
#include <vector>

#include "panel/layout.h"

namespace qelo::panel {

// In layout order.
std::vector<const layout::Control*> oneShotButtons();
std::vector<const layout::Control*> holdButtons();
// The held button whose RepeatCode this is; nullptr for 0 and for a code no
// button has.
const layout::Control* heldButton(std::uint8_t repeatCode);

}  // namespace qelo::panel
