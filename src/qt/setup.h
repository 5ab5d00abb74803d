#pragma once
// Process-wide look of the panel, shared by every program that shows it.

#include <QFont>

namespace qelo::panel::layout {
struct Font;
}

class QApplication;

namespace qelo::platform::qt {

// The layout's font names are not installed on this platform; map them to
// fonts that carry the arrows and the Japanese captions.
void installFonts();

// A style in which a push button is filled with its palette colour.
void setupStyle(QApplication& app);

// The font of a layout font key, at its exact point size (8.25 stays 8.25).
QFont makeFont(const panel::layout::Font& font);

}  // namespace qelo::platform::qt
