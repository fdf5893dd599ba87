#pragma once
// The wall clock as the system's time zone shows it.
#include <ctime>

namespace tw::platform {

// The local wall-clock time of `now`, counted in seconds since 1970 as if it were UTC (what a
// local calendar date and time would give when read as UTC).
long long localWallClockSeconds(std::time_t now);

}  // namespace tw::platform
