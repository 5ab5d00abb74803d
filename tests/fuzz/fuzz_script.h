#pragma once
// The fuzzer's bytes read as a script: one byte at a time, or a run of them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qelo::fuzz {

struct Script {
    const std::uint8_t* p;
    std::size_t n;
    bool more() const { return n > 0; }
    std::uint8_t byte() {
        if (!n) return 0;
        --n;
        return *p++;
    }
    std::string bytes(std::size_t count) {
        count = std::min(count, n);
        std::string s(reinterpret_cast<const char*>(p), count);
        p += count;
        n -= count;
        return s;
    }
    // Up to the next byte `end`, which is skipped.
    std::string until(char end) {
        const auto* at = std::find(p, p + n, static_cast<std::uint8_t>(end));
        std::string s = bytes(static_cast<std::size_t>(at - p));
        byte();
        return s;
    }
};

}  // namespace qelo::fuzz
