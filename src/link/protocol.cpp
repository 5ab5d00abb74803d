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

constexpr StatusRow kStatusRows[] = {
    {" 0 0", " Power ON"},
    {" 8 0", " Stand by"},
    {" 4 0", " Count down"},
    {" 2 0", " Cooling down"},
    {" 1 0", " Power abnormality"},
    {" 8 8", " Temperature abnormality"},
    {" 0 8", " Temperature abnormality"},
    {" 2 4", " Power Management Cooling"},
    {" 0 4", " Power Management"},
    {" 2 8", " Temperature abnormality"},
    {" 0 2", " Key input prohibition"},
};

constexpr StatusRow kModeRows[] = {
    {" 1", " Computer"},
    {" 2", " MCI"},
    {" 3", " Video"},
};

constexpr StatusRow kSettingRows[] = {
    {" 1 1", " Normally"},
    {" 1 0", " Top/Bottom reversal"},
    {" 0 1", " Left/Right reversal"},
    {" 0 0", " Top/Bottom , Left/Right reversal"},
};

const std::array<Query, 4> kQueries{{
    {"CR0", 4, kStatusRows},
    {"CR1", 2, kModeRows},
    {"CR4", 4, kSettingRows},
    {"CR3", 8, {}},
}};

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

std::span<const Query> queries() { return kQueries; }

const Query* findQuery(std::string_view code) {
    for (const auto& q : kQueries)
        if (code == q.code) return &q;
    return nullptr;
}

std::optional<std::string> decode(std::string_view sendData, std::string_view renderedReply) {
    for (const auto& q : kQueries) {
        const std::string_view code = q.code;
        const bool isFrame = sendData.size() == code.size() + 1 && sendData.starts_with(code) &&
                             sendData.back() == kCR;
        if (!isFrame) continue;
        const std::string_view key = renderedReply.substr(0, q.keyLength);
        if (q.table.empty()) return std::string(key) + kHourSuffix;
        for (const auto& row : q.table)
            if (key == row.key) return std::string(row.text);
        return std::nullopt;
    }
    return std::nullopt;
}

namespace {

// A table's answers as they travel: the rendered key " 8 0" is "80".
std::string answerOf(std::string_view key) {
    std::string out;
    for (std::size_t i = 1; i < key.size(); i += 2) out += key[i];
    return out;
}

// "C" and two hex digits; queries are "CR" and a digit.
bool isControl(std::string_view code) { return code.size() == 3 && code[0] == 'C' && code[1] != 'R'; }

}  // namespace

bool answerFits(std::string_view code, std::string_view answer) {
    if (answer.empty() || answer.back() != kCR || answer.find(kCR) != answer.size() - 1) return false;
    const std::string_view body = answer.substr(0, answer.size() - 1);
    if (isControl(code)) return answer == kAck;
    const Query* q = findQuery(code);
    if (!q) return true;
    if (q->table.empty()) return !body.empty() && body.find_first_not_of("0123456789") == std::string_view::npos;
    for (const auto& row : q->table)
        if (body == answerOf(row.key)) return true;
    return false;
}

std::string expectedAnswer(std::string_view code) {
    if (isControl(code)) return "ACK CR";
    const Query* q = findQuery(code);
    if (!q) return "an answer ending in CR";
    if (q->table.empty()) return "digits, then CR";
    std::string out = "one of";
    std::string seen;
    for (const auto& row : q->table) {
        const std::string a = answerOf(row.key);
        if (seen.find(" " + a + " ") != std::string::npos) continue;
        seen += " " + a + " ";
        out += " " + a;
    }
    return out + ", then CR";
}

}  // namespace qelo::link
