#include "link/answer.h"

#include <array>

namespace qelo::link {

namespace {

constexpr Word kStatusWords[] = {
    {"00", "Power ON"},
    {"80", "Stand by"},
    {"40", "Count down"},
    {"20", "Cooling down"},
    {"10", "Power abnormality"},
    {"88", "Temperature abnormality"},
    {"08", "Temperature abnormality"},
    {"24", "Power Management Cooling"},
    {"04", "Power Management"},
    {"28", "Temperature abnormality"},
    {"02", "Key input prohibition"},
};

constexpr Word kModeWords[] = {
    {"1", "Computer"},
    {"2", "MCI"},
    {"3", "Video"},
};

constexpr Word kSettingWords[] = {
    {"11", "Normally"},
    {"10", "Top/Bottom reversal"},
    {"01", "Left/Right reversal"},
    {"00", "Top/Bottom , Left/Right reversal"},
};

const std::array<Query, 4> kQueries{{
    {"CR0", kStatusWords},
    {"CR1", kModeWords},
    {"CR4", kSettingWords},
    {"CR3", {}},
}};

std::optional<long long> hoursOf(std::string_view body) {
    if (body.empty() || body.size() > kMostHourDigits) return std::nullopt;
    long long n = 0;
    for (char c : body) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

std::span<const Query> queries() { return kQueries; }

const Query* findQuery(std::string_view code) {
    for (const auto& q : kQueries)
        if (code == q.code) return &q;
    return nullptr;
}

const Query* queryOfFrame(std::string_view sendData) {
    if (sendData.empty() || sendData.back() != kCR) return nullptr;
    return findQuery(sendData.substr(0, sendData.size() - 1));
}

const Word* leadingWord(const Query& q, std::string_view received) {
    for (const auto& w : q.table)
        if (received.starts_with(w.answer)) return &w;
    return nullptr;
}

bool isControl(std::string_view code) { return code.size() == 3 && code[0] == 'C' && code[1] != 'R'; }

Answer readAnswer(std::string_view code, std::string_view answer) {
    Answer a;
    if (answer.empty() || answer.back() != kCR || answer.find(kCR) != answer.size() - 1) return a;
    const std::string_view body = answer.substr(0, answer.size() - 1);
    if (isControl(code)) {
        a.acknowledged = a.fits = answer == kAck;
        return a;
    }
    const Query* q = findQuery(code);
    if (!q) {
        a.fits = true;  // a code no table knows: nothing is expected beyond the CR
    } else if (q->table.empty()) {
        a.hours = hoursOf(body);
        a.fits = a.hours.has_value();
    } else {
        const Word* w = leadingWord(*q, body);
        if (w && body.size() == std::string_view(w->answer).size()) a.word = w;
        a.fits = a.word != nullptr;
    }
    return a;
}

std::string expectedAnswer(std::string_view code) {
    if (isControl(code)) return "ACK CR";
    const Query* q = findQuery(code);
    if (!q) return "an answer ending in CR";
    if (q->table.empty()) return "digits, then CR";
    std::string out = "one of";
    std::string seen;
    for (const auto& w : q->table) {
        const std::string a = std::string(" ") + w.answer + " ";
        if (seen.find(a) != std::string::npos) continue;
        seen += a;
        out += " " + std::string(w.answer);
    }
    return out + ", then CR";
}

std::optional<std::string> statusText(std::string_view sendData, const RenderedText& received) {
    const Query* q = queryOfFrame(sendData);
    if (!q) return std::nullopt;
    // The hour count is shown as the RXD line shows its first characters,
    // whatever they are.
    if (q->table.empty()) return received.rendered().substr(0, kHourKeyLength) + kHourSuffix;
    if (const Word* w = leadingWord(*q, received.str())) return std::string(" ") + w->words;
    return std::nullopt;
}

}  // namespace qelo::link
