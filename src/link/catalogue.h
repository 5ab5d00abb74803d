#pragma once
// The code catalogue: every command the panel sends, with the caption of its
// button and of the group the button stands in. Constant data the panel's
// layout is built from at compile time, so that a button's caption, code and
// way of sending are written once.

#include <span>
#include <string_view>

namespace qelo::link {

// The cursor pad's captions.
inline constexpr const char* kArrowUp = "↑";
inline constexpr const char* kArrowDown = "↓";
inline constexpr const char* kArrowLeft = "←";
inline constexpr const char* kArrowRight = "→";

enum class Sending { Click, Held };

struct CatalogueEntry {
    const char* group;    // caption of the group on the panel
    const char* caption;  // caption of the button that sends it
    const char* code;
    Sending sending;
};

inline constexpr CatalogueEntry kCatalogue[] = {
    {"POWER", "ON", "C00", Sending::Click},
    {"POWER", "OFF", "C02", Sending::Click},
    {"INPUT SELECT", "ANALOG", "C05", Sending::Click},
    {"INPUT SELECT", "VIDEO", "C06", Sending::Click},
    {"AUDIO MUTE", "ON", "C0B", Sending::Click},
    {"AUDIO MUTE", "OFF", "C0C", Sending::Click},
    {"VIDEO MUTE", "ON", "C0D", Sending::Click},
    {"VIDEO MUTE", "OFF", "C0E", Sending::Click},
    {"VIDEO SCREEN", "Normal", "C0F", Sending::Click},
    {"VIDEO SCREEN", "Wide", "C10", Sending::Click},
    {"MENU", "ON", "C1C", Sending::Click},
    {"MENU", "OFF", "C1D", Sending::Click},
    {"FREEZE", "ON", "C43", Sending::Click},
    {"FREEZE", "OFF", "C44", Sending::Click},
    {"ON START", "ON", "C28", Sending::Click},
    {"ON START", "OFF", "C29", Sending::Click},
    {"POWER MANAGEMENT", "ON", "C2A", Sending::Click},
    {"POWER MANAGEMENT", "OFF", "C2B", Sending::Click},
    {"", "DISPLAY CLEAR", "C1E", Sending::Click},
    {"", "IMAGE", "C27", Sending::Click},
    {"", "A-IMAGE", "C89", Sending::Click},
    {"", "P-TIMER", "C8A", Sending::Click},
    {"", "C01", "C01", Sending::Click},
    {"VOL", "+", "C09", Sending::Held},
    {"VOL", "-", "C0A", Sending::Held},
    {"Zoom", "+", "C47", Sending::Held},
    {"Zoom", "-", "C46", Sending::Held},
    {"Focus", "+", "C4B", Sending::Held},
    {"Focus", "-", "C4A", Sending::Held},
    {"Bright", "+", "C20", Sending::Held},
    {"Bright", "-", "C21", Sending::Held},
    {"D.Zoom", "+", "C30", Sending::Held},
    {"D.Zoom", "-", "C31", Sending::Held},
    {"Keystone", "+", "C8E", Sending::Held},
    {"Keystone", "-", "C8F", Sending::Held},
    {"", kArrowUp, "C3C", Sending::Held},
    {"", kArrowDown, "C3D", Sending::Held},
    {"", kArrowRight, "C3A", Sending::Held},
    {"", kArrowLeft, "C3B", Sending::Held},
    {"", "SELECT", "C3F", Sending::Held},
    {"", "R-CLICK", "C3E", Sending::Held},
    {"", "STATUS", "CR0", Sending::Click},
    {"", "MODE", "CR1", Sending::Click},
    {"", "L-TIME", "CR3", Sending::Click},
    {"", "SETTING", "CR4", Sending::Click},
};

constexpr std::span<const CatalogueEntry> catalogue() { return kCatalogue; }

// The entry for a code, or nullptr when the panel never sends it.
constexpr const CatalogueEntry* findCode(std::string_view code) {
    for (const auto& e : kCatalogue)
        if (code == e.code) return &e;
    return nullptr;
}

}  // namespace qelo::link
