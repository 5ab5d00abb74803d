#pragma once
// Accessible names, descriptions and tooltips for the panel's window.

class QWidget;

namespace qelo::platform::qt {

// Gives every control of the window (found by its objectName) the name a
// screen reader reads, its description, and the tooltip of a command
// button. Captions, geometry and behaviour stay as they are. Names that
// depend on what a control shows follow it from then on. Calling it again
// changes nothing.
void applyAccessibility(QWidget& window);

}  // namespace qelo::platform::qt
