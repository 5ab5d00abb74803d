#include "ctl/escape.h"

namespace qelo::ctl {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void unicodeEscape(std::string& out, unsigned value) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xf];
}

// How a byte with no short escape is spelled: \u00NN in JSON, \xNN in C.
enum class Hex { Json, C };

// Printable ASCII as itself, everything else escaped.
void escapeByte(std::string& out, unsigned char c, Hex hex) {
    if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
    } else if (c == '\r') {
        out += "\\r";
    } else if (c == '\n') {
        out += "\\n";
    } else if (c >= 0x20 && c < 0x7f) {
        out += static_cast<char>(c);
    } else if (hex == Hex::Json) {
        unicodeEscape(out, c);
    } else {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 0xf];
    }
}

std::string quoted(std::string_view bytes, Hex hex) {
    std::string out = "\"";
    for (unsigned char c : bytes) escapeByte(out, c, hex);
    return out + '"';
}

}  // namespace

std::string jsonBytes(std::string_view bytes) { return quoted(bytes, Hex::Json); }

std::string quoteBytes(std::string_view bytes) { return quoted(bytes, Hex::C); }

std::string jsonText(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            escapeByte(out, c, Hex::Json);
            ++i;
            continue;
        }
        const std::size_t extra = c >= 0xf0 && c < 0xf5 ? 3 : c >= 0xe0 && c < 0xf0 ? 2 : c >= 0xc2 && c < 0xe0 ? 1 : 0;
        unsigned cp = c & (0x3f >> extra);
        bool good = extra > 0 && i + extra < text.size();
        for (std::size_t k = 1; good && k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            good = (t & 0xc0) == 0x80;
            cp = (cp << 6) | (t & 0x3f);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        good = good && !(extra == 2 && cp < 0x800) && !(extra == 3 && (cp < 0x10000 || cp > 0x10ffff)) &&
               !(cp >= 0xd800 && cp < 0xe000);
        if (!good) {
            unicodeEscape(out, 0xfffd);
            ++i;
        } else {
            if (cp >= 0x10000) {
                unicodeEscape(out, 0xd800 + ((cp - 0x10000) >> 10));
                unicodeEscape(out, 0xdc00 + ((cp - 0x10000) & 0x3ff));
            } else {
                unicodeEscape(out, cp);
            }
            i += extra + 1;
        }
    }
    return out + '"';
}

}  // namespace qelo::ctl
