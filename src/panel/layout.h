#pragma once
// The window's layout as constant data: every control with its place, looks
// and events, the fonts, the lines, the logo and the timers. The window is
// built from these tables and nothing else. Geometry is in twips, relative to
// the client area of the control's container.

#include <cstdint>
#include <span>
#include <string_view>

namespace qelo::panel::layout {

// Colours are 0xRRGGBB; the two values below stand for the platform's own
// colours and are never real RGB values (bit 31 set).
using Colour = std::uint32_t;
inline constexpr Colour kButtonFace = 0x8000000Fu;
inline constexpr Colour kWindowText = 0x80000008u;
constexpr bool isSystemColour(Colour c) { return (c & 0x80000000u) != 0; }

inline constexpr int kTwipsPerPixel = 15;

enum class Kind { Frame, Label, Button, Radio };
enum class Align { Left, Centre, Right };
// What a control raises that a handler listens to. No button has both.
enum class Events { None, Click, PressRelease };
// What a command button does besides sending its code: a click that also
// puts the arrows into their menu pace, or the pace of a held button.
enum class Pace : std::uint8_t { Once, MenuPace, Arrow, Pad, Adjust, Lens, DigitalZoom };

// The design's two font families, which the Qt side maps to what Debian has.
inline constexpr const char* kGothic = "ＭＳ ゴシック";
inline constexpr const char* kPGothic = "ＭＳ Ｐゴシック";

struct Font {
    const char* key;
    const char* family;  // UTF-8
    double points;
    int weight;          // 400 regular, 700 bold
};

struct Control {
    const char* name;
    Kind kind;
    const char* container;  // "Form1" or the name of a frame
    const char* caption;    // UTF-8; "" for frames and labels that start blank
    int left, top, width, height;
    Colour back;
    const char* font;       // key into fonts(); nullptr for frames
    int tabIndex;
    Align align;            // labels only
    bool border;            // labels only: single-line border
    Colour text;            // labels only
    bool visible;           // at start-up
    bool selected;          // radio buttons only, at start-up
    Events events;
    // Command buttons only: the code of the catalogue entry they send, which
    // also gives their caption and events; a held one's RepeatCode and pace.
    const char* code = nullptr;
    std::uint8_t repeatCode = 0;
    Pace pace = Pace::Once;
};

struct Line {
    const char* name;
    int x1, y1, x2, y2;
};
inline constexpr Colour kLineColour = 0x8080FF;
inline constexpr int kLineWidthPixels = 2;

struct Image {
    const char* name;
    int left, top, width, height;
    int pixelWidth, pixelHeight;
};

struct TimerRow {
    const char* name;
    int interval;  // ms at start
    bool enabled;  // at start
};

struct Form {
    const char* name;
    const char* caption;
    int clientWidth, clientHeight;
    Colour back;
};

const Form& form();
std::span<const Font> fonts();
// In creation order: containers before what they hold, and later controls
// above earlier ones where they overlap (Frame8 above Command33).
std::span<const Control> controls();
std::span<const Line> lines();
const Image& image();
std::span<const TimerRow> timers();

// nullptr when the layout has no such name.
const Control* findControl(std::string_view name);
const Font* findFont(std::string_view key);

// Every control of the data area has its top edge at or below this line;
// every other control ends above kCompactBottom, so a compact window can
// show all of them and none of the data area.
inline constexpr int kDataAreaTop = 4920;
inline constexpr int kCompactBottom = 4800;

// Window heights (outer, in twips) that the panel switches between.
inline constexpr int kCompactHeight = 5200;
inline constexpr int kToggleHeight = 6645;
inline constexpr int kShortcutHeight = 7000;
// Below this height the window counts as compact.
inline constexpr int kExpandedThreshold = 6000;

// The captions of the data-area toggle (Command34): what its next click does,
// and what it says after Ctrl+H.
inline constexpr const char* kShowData = "データを表示する";
inline constexpr const char* kHideData = "データを表示しない";
inline constexpr const char* kCloseData = "CLOSE";

}  // namespace qelo::panel::layout
