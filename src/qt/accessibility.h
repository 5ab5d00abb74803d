#pragma once
// Accessible names, descriptions and tooltips for the panel's window.

#include <functional>
#include <string>

class QWidget;

namespace qelo::platform::qt {

// Gives every control of the window (found by its objectName) the name a
// screen reader reads, its description, and the tooltip of a command
// button. Captions, geometry and behaviour stay as they are. Names that
// depend on what a control shows follow it from then on. Calling it again
// changes nothing.
void applyAccessibility(QWidget& window);

// Gives the port choices of the port panel (COM1, COM2) a tooltip and an
// accessible description naming the device each number leads to, looked up
// again every time the panel is shown: adapters come and go.
void describePortDevices(QWidget& window, std::function<std::string(int number)> deviceFor);

}  // namespace qelo::platform::qt
