#pragma once
// Process-wide look of the panel, shared by every program that shows it.

#include <QFont>

namespace qelo::panel::layout {
struct Font;
}

class QApplication;

namespace qelo::platform::qt {

// The panel's look for the whole process: a style in which a push button is
// filled with its palette colour, and the layout's font names (not installed
// on this platform) mapped to fonts that carry the arrows and the Japanese
// captions. Every program, test and benchmark that shows the panel calls it.
void setupLook(QApplication& app);

// The font of a layout font key, at its exact point size (8.25 stays 8.25).
QFont makeFont(const panel::layout::Font& font);

}  // namespace qelo::platform::qt
