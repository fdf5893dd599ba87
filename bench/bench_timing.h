#pragma once
// The two helpers every benchmark program here uses to time and summarise its runs.
#include <algorithm>
#include <chrono>
#include <vector>

namespace tw::bench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The middle value (the upper one of an even count).
inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace tw::bench
