#include "panel/accessibility.h"

#include <cstring>
#include <vector>

#include "link/protocol.h"
#include "panel/layout.h"

namespace qelo::panel::accessibility {

namespace {

using layout::Control;
using layout::Kind;

struct Pair {
    const char* key;
    const char* value;
};

// The cursor pad's captions are arrows, which a screen reader would read as
// "upwards arrow" at best.
constexpr Pair kArrows[] = {{link::kArrowUp, "Cursor up"},
                            {link::kArrowDown, "Cursor down"},
                            {link::kArrowLeft, "Cursor left"},
                            {link::kArrowRight, "Cursor right"}};

// The captions the data-area toggle takes on, and what a click on it does
// while it shows each; the first is the layout's own.
constexpr Pair kToggleCaptions[] = {
    {layout::kHideData, "Hide data area"},
    {layout::kCloseData, "Close data area"},
};
constexpr const char* kToggleAtStart = "Show data area";

// Display lines and the label that titles each.
constexpr Pair kDisplayTitles[] = {{"Label11", "Label9"}, {"Label12", "Label10"}, {"Label25", "Label26"}};

// Frames without a title of their own.
constexpr Pair kFrameNames[] = {
    {"Frame8", "Port settings"},
    {"Frame12", "Speed"},
    {"Frame9", "Traffic monitor"},
    {"Frame15", "Status line"},
};

const char* lookup(std::span<const Pair> table, std::string_view key) {
    for (const Pair& p : table)
        if (key == p.key) return p.value;
    return nullptr;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

// The caption as written, whatever lines the window broke it into.
std::string unwrapped(std::string_view shown) {
    std::string out;
    for (char c : trimmed(shown)) {
        if (c == '\n' || c == '\r') c = ' ';
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out += c;
    }
    return out;
}

std::string withoutBlanks(std::string_view text) {
    std::string out;
    for (char c : text)
        if (!isBlank(c)) out += c;
    return out;
}

std::string titleOf(const Control& frame) {
    for (const Control& c : layout::controls())
        if (c.kind == Kind::Label && c.align == layout::Align::Centre && std::strcmp(c.container, frame.name) == 0)
            return c.caption;
    return {};
}

Entry buttonEntry(const Control& c) {
    Entry e{c.name, c.caption, {}, {}, Naming::Fixed};
    const std::string_view name = c.name;
    if (c.code) {
        // Name it as the catalogue does: the group on the panel and the
        // button's caption in it, so that "ON" is never just "ON".
        if (const link::CatalogueEntry* known = link::findCode(c.code)) {
            if (const char* arrow = lookup(kArrows, known->caption)) e.name = arrow;
            else if (*known->group) e.name = std::string(known->group) + " " + known->caption;
            else e.name = known->caption;
        }
        const bool held = c.events == layout::Events::PressRelease;
        e.tooltip = held ? std::string(c.code) + ", repeated while held" : std::string(c.code);
        return e;
    }
    if (name == "Command33") {
        e.name = "COM port settings";
        e.tooltip = "Choose the serial port and its speed";
    } else if (name == "Command16") {
        e.tooltip = "Close the port and quit";
    } else if (name == "Command34") {
        e.naming = Naming::Caption;
        e.name = kToggleAtStart;
        e.description = "Shows or hides the traffic monitor and the status line";
    }
    return e;
}

Entry radioEntry(const Control& c) {
    Entry e{c.name, c.caption, {}, {}, Naming::Fixed};
    if (std::strcmp(c.container, "Frame8") == 0) e.name = std::string("Port ") + c.caption;
    else if (std::strcmp(c.container, "Frame12") == 0) e.name = std::string(c.caption) + " baud";
    return e;
}

Entry labelEntry(const Control& c) {
    Entry e{c.name, unwrapped(c.caption), {}, {}, Naming::Fixed};
    if (const char* title = lookup(kDisplayTitles, c.name)) {
        if (const Control* t = layout::findControl(title)) e.name = unwrapped(t->caption);
        e.naming = Naming::Content;
    }
    return e;
}

Entry frameEntry(const Control& c) {
    Entry e{c.name, {}, {}, {}, Naming::Fixed};
    if (const char* name = lookup(kFrameNames, c.name)) e.name = name;
    else e.name = unwrapped(titleOf(c));
    return e;
}

}  // namespace

std::optional<Entry> find(std::string_view control) {
    if (control == layout::image().name) return Entry{layout::image().name, "Logo", {}, {}, Naming::Fixed};
    const Control* c = layout::findControl(control);
    if (!c) return std::nullopt;
    switch (c->kind) {
    case Kind::Button: return buttonEntry(*c);
    case Kind::Radio: return radioEntry(*c);
    case Kind::Label: return labelEntry(*c);
    case Kind::Frame: return frameEntry(*c);
    }
    return std::nullopt;
}

std::vector<Entry> entries() {
    std::vector<Entry> out;
    for (const Control& c : layout::controls()) out.push_back(*find(c.name));
    out.push_back(*find(layout::image().name));
    return out;
}

std::string nameFor(const Entry& entry, std::string_view shown) {
    switch (entry.naming) {
    case Naming::Fixed: break;
    case Naming::Caption: {
        const std::string key = withoutBlanks(shown);
        const Control* c = layout::findControl(entry.control);
        if (c && key == withoutBlanks(c->caption)) return kToggleAtStart;
        for (const Pair& p : kToggleCaptions)
            if (key == withoutBlanks(p.key)) return p.value;
        // A caption nobody told us about: read it as it stands.
        const std::string text = unwrapped(shown);
        return text.empty() ? entry.name : text;
    }
    case Naming::Content: {
        const std::string text = trimmed(shown);
        return text.empty() ? entry.name : entry.name + ": " + text;
    }
    }
    return entry.name;
}

}  // namespace qelo::panel::accessibility
