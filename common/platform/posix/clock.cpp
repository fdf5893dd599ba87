#include "common/platform/clock.h"

#include <time.h>

namespace tw::platform {

long long localWallClockSeconds(std::time_t now) {
    std::tm local{};
    ::localtime_r(&now, &local);
    return static_cast<long long>(::timegm(&local));
}

}  // namespace tw::platform
