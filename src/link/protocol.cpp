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
