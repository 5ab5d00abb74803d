#pragma once
// Checks shared by the fuzz targets; a broken invariant aborts the run.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "link/answer.h"
#include "link/protocol.h"

namespace qelo::fuzz {

[[noreturn]] inline void broken(const char* what, std::string_view detail) {
    std::fprintf(stderr, "invariant broken: %s: [%.*s]\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

// A status text is a row of a table, an hour text, or nothing.
inline void checkStatusText(std::string_view text) {
    if (text.empty()) return;
    for (const auto& q : link::queries())
        for (const auto& w : q.table)
            if (text.starts_with(' ') && text.substr(1) == w.words) return;
    const std::string_view suffix = link::kHourSuffix;
    if (text.size() >= suffix.size() && text.ends_with(suffix) && text.size() - suffix.size() <= link::kHourKeyLength &&
        text.front() == ' ')
        return;
    broken("status text", text);
}

// Only whole frames of the catalogue ever reach the line.
inline void checkFrame(std::string_view written) {
    if (written.size() != 4 || written.back() != link::kCR || !link::findCode(written.substr(0, 3)))
        broken("frame on the line", written);
}

}  // namespace qelo::fuzz
