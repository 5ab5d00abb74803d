#include "link/protocol.h"

#include <array>
#include <cstring>

namespace qelo::link {

std::string frame(std::string_view code) {
    std::string f(code);
    f.push_back(kCR);
    return f;
}

namespace {

constexpr CatalogueEntry kCatalogue[] = {
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

}  // namespace

std::span<const CatalogueEntry> catalogue() { return kCatalogue; }

const CatalogueEntry* findCode(std::string_view code) {
    for (const auto& e : catalogue())
        if (code == e.code) return &e;
    return nullptr;
}

namespace {

struct Token {
    char text[4];
    unsigned char size;
};

constexpr Token tokenOf(unsigned char c) {
    if (c == 6) return {{'A', 'C', 'K', ' '}, 4};
    if (c == 13) return {{'C', 'R', ' ', 0}, 3};
    if (c == 10) return {{'L', 'F', ' ', ' '}, 4};
    if (c >= 32 && c <= 'z') return {{static_cast<char>(c), ' ', 0, 0}, 2};
    return {{'?', ' ', 0, 0}, 2};
}

// Every byte received is rendered as it arrives: one table lookup a byte
// keeps it cheap.
constexpr auto kTokens = [] {
    std::array<Token, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = tokenOf(static_cast<unsigned char>(c));
    return t;
}();

}  // namespace

void appendToken(std::string& out, unsigned char c) {
    const Token& t = kTokens[c];
    out.append(t.text, t.size);
}

std::string render(std::string_view data) {
    std::string out(1 + 4 * data.size(), '\0');
    char* p = out.data();
    *p++ = ' ';
    for (char c : data) {
        const Token& t = kTokens[static_cast<unsigned char>(c)];
        std::memcpy(p, t.text, 4);  // always 4 bytes; only t.size of them count
        p += t.size;
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

void RenderedText::clear() {
    text_.clear();
    rendered_.assign(1, ' ');
    ++generation_;
}

void RenderedText::append(std::string_view more, std::size_t limit) {
    if (text_.size() >= limit) return;
    more = more.substr(0, limit - text_.size());
    text_.append(more);
    for (char c : more) appendToken(rendered_, static_cast<unsigned char>(c));
}

}  // namespace qelo::link
