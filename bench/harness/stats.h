#pragma once
// Time stamps and the few statistics the harness quotes.

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace qelo::bench {

// CLOCK_MONOTONIC is one clock for every thread and every process of the
// machine, so stamps taken on either side of the line compare directly.
inline std::int64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

inline double nsToMs(std::int64_t ns) { return static_cast<double>(ns) / 1e6; }

// Nearest-rank percentile (p in 0..100); NaN for no samples.
inline double percentile(std::vector<double> v, double p) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

inline double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

inline double maxOf(const std::vector<double>& v) {
    return v.empty() ? NAN : *std::max_element(v.begin(), v.end());
}

inline double minOf(const std::vector<double>& v) {
    return v.empty() ? NAN : *std::min_element(v.begin(), v.end());
}

}  // namespace qelo::bench
