#include "panel/layout.h"

#include "link/catalogue.h"
#include "panel/find.h"

#include <array>

namespace qelo::panel::layout {
namespace {

constexpr Control frameAt(const char* name, const char* in, int l, int t, int w, int h, int tab,
                          bool visible = true) {
    return {name, Kind::Frame, in, "", l, t, w, h, 0xC0C0C0, nullptr, tab,
            Align::Left, false, kWindowText, visible, false, Events::None};
}

constexpr Control label(const char* name, const char* in, const char* caption, int l, int t, int w,
                        int h, Colour back, const char* font, int tab, Align align,
                        bool border = false, Colour text = kWindowText) {
    return {name, Kind::Label, in, caption, l, t, w, h, back, font, tab,
            align, border, text, true, false, Events::None};
}

constexpr Control button(const char* name, const char* in, const char* caption, int l, int t, int w,
                         int h, Colour back, const char* font, int tab, Events events,
                         bool visible = true) {
    return {name, Kind::Button, in, caption, l, t, w, h, back, font, tab,
            Align::Centre, false, kWindowText, visible, false, events};
}

// A command button: caption and events come from its catalogue entry.
constexpr Control command(const char* name, const char* in, const char* code, int l, int t, int w, int h,
                          Colour back, const char* font, int tab, link::Sending sending, Pace pace,
                          std::uint8_t repeatCode) {
    const link::CatalogueEntry* entry = link::findCode(code);
    // Thrown while the table is built at compile time: the build stops.
    if (!entry || entry->sending != sending) throw "a command button needs a catalogue code it sends so";
    Control c = button(name, in, entry->caption, l, t, w, h, back, font, tab,
                       sending == link::Sending::Held ? Events::PressRelease : Events::Click);
    c.code = code;
    c.pace = pace;
    c.repeatCode = repeatCode;
    return c;
}

constexpr Control click(const char* name, const char* in, const char* code, int l, int t, int w, int h,
                        Colour back, const char* font, int tab, Pace pace = Pace::Once) {
    return command(name, in, code, l, t, w, h, back, font, tab, link::Sending::Click, pace, 0);
}

// repeatCode: what RepeatCode holds while it is held.
constexpr Control hold(const char* name, const char* in, const char* code, std::uint8_t repeatCode, Pace pace,
                       int l, int t, int w, int h, Colour back, const char* font, int tab) {
    return command(name, in, code, l, t, w, h, back, font, tab, link::Sending::Held, pace, repeatCode);
}

constexpr Control radio(const char* name, const char* in, const char* caption, int l, int t, int w,
                        int h, int tab, bool selected) {
    return {name, Kind::Radio, in, caption, l, t, w, h, 0xC0C0C0, "G9b", tab,
            Align::Left, false, kWindowText, true, selected, Events::Click};
}

constexpr auto Click = Events::Click;
constexpr auto Arrow = Pace::Arrow;
constexpr auto Pad = Pace::Pad;
constexpr auto Adjust = Pace::Adjust;
constexpr auto Lens = Pace::Lens;
constexpr auto DigitalZoom = Pace::DigitalZoom;
constexpr auto MenuPace = Pace::MenuPace;
constexpr auto Centre = Align::Centre;
constexpr auto Right = Align::Right;
constexpr auto Left = Align::Left;

constexpr Form kForm{"Form1", "QELO   PLV7M & LV7M   CONTROL  Ver.1.30", 9270, 6615, 0xC0C0C0};


constexpr std::array kFonts{
    Font{"G9b", kGothic, 9, 700},
    Font{"G9", kGothic, 9, 400},
    Font{"G8b", kGothic, 8.25, 700},
    Font{"G8", kGothic, 8.25, 400},
    Font{"P9b", kPGothic, 9, 700},
    Font{"P9", kPGothic, 9, 400},
    Font{"P9.75b", kPGothic, 9.75, 700},
};

constexpr std::array kControls{
    // Top row: POWER, INPUT SELECT, POWER MANAGEMENT.
    frameAt("Frame1", "Form1", 120, 75, 1815, 1035, 0),
    label("Label1", "Frame1", "POWER", 360, 240, 1095, 255, 0xC0C0C0, "G9b", 2, Centre, false, 0xC00000),
    click("Command17", "Frame1", "C00", 240, 660, 615, 300, 0xC0FFC0, "G9b", 1),
    click("Command18", "Frame1", "C02", 960, 660, 615, 300, 0xFFC0C0, "G9b", 26),
    frameAt("Frame2", "Form1", 2025, 60, 3495, 1035, 3),
    label("Label2", "Frame2", "INPUT SELECT", 840, 225, 1935, 255, 0xC0C0C0, "G9b", 4, Centre),
    click("Command27", "Frame2", "C05", 360, 660, 1275, 300, 0xC0FFFF, "G9b", 35),
    click("Command29", "Frame2", "C06", 1920, 660, 1215, 300, 0xC0FFFF, "G9b", 36),
    frameAt("Frame11", "Form1", 5640, 60, 1935, 1035, 79),
    label("Label20", "Frame11", "POWER MANAGEMENT", 150, 120, 1665, 555, 0xC0C0C0, "P9b", 82, Centre),
    click("Command54", "Frame11", "C2A", 195, 660, 612, 300, 0xC0FFC0, "G9b", 80),
    click("Command55", "Frame11", "C2B", 1050, 660, 570, 300, 0xFFC0C0, "G9b", 81),

    // Second row: AUDIO MUTE, VIDEO MUTE, FREEZE, MENU, VIDEO SCREEN.
    frameAt("Frame3", "Form1", 24, 1212, 1560, 972, 8),
    label("Label4", "Frame3", "AUDIO MUTE", 120, 240, 1305, 255, 0xC0C0C0, "G9b", 9, Centre),
    click("Command19", "Frame3", "C0B", 120, 600, 615, 300, 0xC0FFC0, "G9b", 27),
    click("Command20", "Frame3", "C0C", 855, 600, 570, 300, 0xFFC0C0, "G9b", 28),
    frameAt("Frame4", "Form1", 1800, 1212, 1500, 972, 10),
    label("Label5", "Frame4", "VIDEO MUTE", 120, 240, 1215, 255, 0xC0C0C0, "G9b", 11, Centre),
    click("Command21", "Frame4", "C0D", 96, 600, 615, 300, 0xC0FFC0, "G9b", 29),
    click("Command22", "Frame4", "C0E", 825, 600, 570, 300, 0xFFC0C0, "G9b", 30),
    frameAt("Frame7", "Form1", 3480, 1212, 1500, 975, 22),
    label("Label8", "Frame7", "FREEZE", 120, 225, 1200, 255, 0xC0C0C0, "G9b", 23, Centre),
    click("Command25", "Frame7", "C43", 84, 600, 615, 300, 0xC0FFC0, "G9b", 33),
    click("Command26", "Frame7", "C44", 840, 600, 570, 300, 0xFFC0C0, "G9b", 34),
    frameAt("Frame6", "Form1", 5280, 1215, 1545, 975, 14),
    label("Label7", "Frame6", "MENU", 210, 210, 1095, 255, 0xC0C0C0, "G9b", 15, Centre),
    click("Command23", "Frame6", "C1C", 120, 600, 615, 300, 0xC0FFC0, "G9b", 31, MenuPace),
    click("Command24", "Frame6", "C1D", 840, 600, 570, 300, 0xFFC0C0, "G9b", 32),
    frameAt("Frame5", "Form1", 7200, 1200, 1890, 975, 12),
    label("Label6", "Frame5", "VIDEO SCREEN", 120, 240, 1695, 315, 0xC0C0C0, "G9b", 13, Centre),
    click("Command31", "Frame5", "C0F", 96, 600, 855, 300, 0xC0FFFF, "G9", 37),
    click("Command32", "Frame5", "C10", 1080, 600, 732, 300, 0xC0FFFF, "G9", 38),

    // Cursor pad.
    hold("Command5", "Form1", "C3C", 3, Arrow, 1200, 2520, 855, 375, 0xFFE0C0, "G9b", 17),
    hold("Command9", "Form1", "C3B", 5, Arrow, 240, 3000, 855, 375, 0xFFE0C0, "G9b", 21),
    hold("Command6", "Form1", "C3F", 13, Pad, 1200, 3000, 855, 375, 0xFF8000, "G9", 18),
    hold("Command8", "Form1", "C3A", 6, Arrow, 2160, 3000, 855, 375, 0xFFE0C0, "G9b", 20),
    hold("Command7", "Form1", "C3D", 4, Arrow, 1200, 3480, 855, 375, 0xFFE0C0, "G9b", 19),
    hold("Command40", "Form1", "C3E", 14, Pad, 2280, 3660, 855, 315, 0xFFE0C0, "G8", 55),

    // Adjustment row.
    label("Label3", "Form1", "VOL", 3240, 2520, 615, 255, 0xC0C0C0, "G9b", 7, Centre),
    hold("Command1", "Form1", "C09", 1, Adjust, 3360, 2880, 375, 255, 0xFFC080, "G9b", 5),
    hold("Command2", "Form1", "C0A", 2, Adjust, 3360, 3240, 375, 255, 0xFFC080, "G9b", 6),
    label("Label13", "Form1", "Zoom", 4080, 2520, 615, 255, 0xC0C0C0, "G9", 51, Centre),
    hold("Command15", "Form1", "C47", 7, Lens, 4200, 2880, 375, 255, 0xFFE0C0, "G9b", 49),
    hold("Command35", "Form1", "C46", 8, Lens, 4200, 3240, 375, 255, 0xFFE0C0, "G9b", 50),
    label("Label14", "Form1", "Focus", 4800, 2520, 615, 255, 0xC0C0C0, "G9", 54, Centre),
    hold("Command36", "Form1", "C4B", 9, Lens, 4860, 2865, 375, 255, 0xFFE0C0, "G9b", 52),
    hold("Command37", "Form1", "C4A", 10, Lens, 4860, 3240, 375, 255, 0xFFE0C0, "G9b", 53),
    label("Label16", "Form1", "Bright", 5520, 2520, 615, 255, 0xC0C0C0, "G9", 62, Centre),
    hold("Command30", "Form1", "C20", 15, Adjust, 5640, 2880, 375, 255, 0xC0FFFF, "G9b", 60),
    hold("Command42", "Form1", "C21", 16, Adjust, 5640, 3240, 375, 255, 0xC0FFFF, "G9b", 61),
    label("Label17", "Form1", "D.Zoom", 6360, 2520, 735, 255, 0xC0C0C0, "G9", 65, Centre),
    hold("Command48", "Form1", "C30", 17, DigitalZoom, 6480, 2880, 375, 255, 0xC0FFFF, "G9b", 63),
    hold("Command49", "Form1", "C31", 18, DigitalZoom, 6480, 3240, 375, 255, 0xC0FFFF, "G9b", 64),
    label("Label18", "Form1", "Keystone", 7200, 2520, 855, 255, 0xC0C0C0, "G9", 68, Centre),
    hold("Command50", "Form1", "C8E", 19, Adjust, 7440, 2880, 375, 255, 0xC0FFFF, "G9b", 66),
    hold("Command51", "Form1", "C8F", 20, Adjust, 7440, 3240, 375, 255, 0xC0FFFF, "G9b", 67),

    // Right-hand column and END.
    click("Command13", "Form1", "C89", 8160, 2520, 975, 270, 0x00C0C0, "G9", 24, MenuPace),
    click("Command53", "Form1", "C27", 8160, 2970, 972, 270, 0xC0C0FF, "G9", 78),
    click("Command14", "Form1", "C8A", 8160, 3240, 972, 270, 0xC0C0FF, "G9", 73),
    click("Command3", "Form1", "C1E", 8160, 3510, 975, 492, 0xC0C0FF, "G9", 16),
    button("Command16", "Form1", "END", 8160, 4320, 975, 375, 0xC0C0C0, "G9b", 25, Click),

    // COM button and the port panel above it.
    button("Command33", "Form1", "COM", 4080, 4200, 1815, 375, kButtonFace, "P9", 39, Click),
    frameAt("Frame8", "Form1", 3480, 3600, 2775, 1185, 40, false),
    radio("Option1", "Frame8", "COM1", 240, 240, 1095, 255, 41, false),
    radio("Option2", "Frame8", "COM2", 1440, 240, 1095, 255, 42, false),
    frameAt("Frame12", "Frame8", 120, 480, 2535, 615, 83),
    radio("Option3", "Frame12", "19200", 120, 240, 1095, 255, 84, true),
    radio("Option4", "Frame12", "9600", 1320, 240, 1095, 255, 85, false),

    // Data area.
    frameAt("Frame9", "Form1", 120, 4920, 6648, 1068, 43),
    label("Label9", "Frame9", "TXD", 120, 240, 495, 255, 0xC0C0C0, "G9", 44, Right),
    label("Label11", "Frame9", "", 720, 195, 5790, 345, 0xFFFFFF, "P9.75b", 46, Left, true),
    label("Label10", "Frame9", "RXD", 120, 600, 495, 300, 0xC0C0C0, "G9", 45, Right),
    label("Label12", "Frame9", "", 705, 585, 5805, 345, 0xFFFFFF, "P9.75b", 47, Left, true),
    frameAt("Frame10", "Form1", 7845, 4968, 1335, 732, 74),
    label("Label19", "Frame10", "ON START", 120, 150, 1080, 225, 0xC0C0C0, "G8b", 77, Centre),
    click("Command41", "Frame10", "C28", 105, 420, 480, 255, 0xC0FFC0, "G8b", 75),
    click("Command43", "Frame10", "C29", 720, 420, 480, 255, 0xFFC0C0, "G8b", 76),
    button("Command34", "Form1", kShowData, 6840, 5040, 930, 375, 0xC0C0C0, "G9", 48, Click, false),
    click("Command44", "Form1", "CR0", 6930, 5808, 1050, 255, 0xC0FFFF, "G8b", 56),
    click("Command46", "Form1", "CR3", 7980, 5808, 1095, 255, 0xC0FFFF, "G8b", 58),
    click("Command45", "Form1", "CR1", 6930, 6060, 1050, 255, 0xC0FFFF, "G8b", 57),
    click("Command47", "Form1", "CR4", 7992, 6060, 1080, 255, 0xC0FFFF, "G8b", 59),
    frameAt("Frame15", "Form1", 720, 5985, 6060, 510, 70),
    label("Label26", "Frame15", "STATUS", 120, 204, 732, 180, 0xC0C0C0, "G8", 72, Left),
    label("Label25", "Frame15", "", 840, 135, 5100, 315, 0xFFFFFF, "P9b", 71, Left, true, 0xFF0000),
    click("Command52", "Form1", "C01", 120, 6120, 495, 255, 0xFFC0C0, "G9", 69),
};

constexpr std::array kLines{
    Line{"Line1", 1080, 2400, 1080, 2880},  Line{"Line2", 2160, 2400, 2160, 2880},
    Line{"Line3", 3120, 2880, 3120, 3480},  Line{"Line4", 2160, 3480, 2160, 3960},
    Line{"Line5", 1080, 3480, 1080, 3960},  Line{"Line6", 120, 2880, 120, 3480},
    Line{"Line7", 1080, 2400, 2160, 2400},  Line{"Line8", 120, 2880, 1080, 2880},
    Line{"Line9", 2160, 2880, 3120, 2880},  Line{"Line10", 120, 3480, 1080, 3480},
    Line{"Line11", 1080, 3960, 2160, 3960}, Line{"Line12", 2160, 3480, 3120, 3480},
};

constexpr Image kImage{"Image1", 8040, 0, 1200, 390, 80, 26};

constexpr std::array kTimers{
    TimerRow{"Timer1", 200, false},
    TimerRow{"Timer2", 500, false},
    TimerRow{"Timer3", 5000, false},
    TimerRow{"Timer4", 1000, false},
};

}  // namespace

const Form& form() { return kForm; }
std::span<const Font> fonts() { return kFonts; }
std::span<const Control> controls() { return kControls; }
std::span<const Line> lines() { return kLines; }
const Image& image() { return kImage; }
std::span<const TimerRow> timers() { return kTimers; }

const Control* findControl(std::string_view name) { return findRow(controls(), name, &Control::name); }

const Font* findFont(std::string_view key) {
    return findRow(fonts(), key, &Font::key);
}

}  // namespace qelo::panel::layout
