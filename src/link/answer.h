#pragma once
// What a projector's answer means, read once from its bytes: a STATUS code
// and its words, a MODE, a SETTING, a number of lamp hours, an
// acknowledgement, or that it is not the form its frame asks for. The tables
// are keyed by the answer as it travels; display text is made from them at
// the edge (statusText for the panel).

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "link/protocol.h"

namespace qelo::link {

// One answer of a query's table and what it means.
struct Word {
    const char* answer;  // as it travels, before its CR: "80"
    const char* words;   // "Stand by"
};

struct Query {
    const char* code;             // "CR0", ...
    std::span<const Word> table;  // empty for the hour count
};
std::span<const Query> queries();  // in the order the panel's decoder tries them
const Query* findQuery(std::string_view code);
// The query whose frame (code and CR, nothing more) sendData is.
const Query* queryOfFrame(std::string_view sendData);

// The row of q's table that the first bytes received name, or nullptr: a
// reply still arriving names none until its key is whole.
const Word* leadingWord(const Query& q, std::string_view received);

// An answer to the frame of a code, up to and including its first CR.
struct Answer {
    bool fits = false;               // the form the frame asks for
    const Word* word = nullptr;      // STATUS, MODE and SETTING
    std::optional<long long> hours;  // L-TIME
    bool acknowledged = false;       // a control command's ACK
};
Answer readAnswer(std::string_view code, std::string_view answer);
// That form in words, for a message: "ACK CR", "one of 1 2 3, then CR", ...
std::string expectedAnswer(std::string_view code);

// A control command is "C" and two hex digits; a query "CR" and a digit.
bool isControl(std::string_view code);

// The panel's status line for what has been received after sendData, or
// nothing when sendData is no query or the reply names no row (the line
// then keeps what it shows).
std::optional<std::string> statusText(std::string_view sendData, const RenderedText& received);

inline constexpr const char* kHourSuffix = " Hour";
inline constexpr std::size_t kHourKeyLength = 8;  // characters of the rendered reply shown
// Lamp hours longer than this are no count (they would not fit a number).
inline constexpr std::size_t kMostHourDigits = 18;

}  // namespace qelo::link
