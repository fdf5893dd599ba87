#include "common/platform/descriptors.h"

#include <sys/resource.h>

#include <algorithm>

namespace tw::platform {

namespace {

// Descriptors kept back for everything that is not a connection attempt.
constexpr rlim_t kReserve = 128;

rlim_t raisedSoftLimit() {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return 1024;  // the usual default
    if (lim.rlim_cur < lim.rlim_max) {
        rlimit raised = lim;
        raised.rlim_cur = lim.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) lim = raised;
    }
    return lim.rlim_cur;
}

}  // namespace

std::size_t connectionAttemptLimit(std::size_t cap) {
    static const rlim_t soft = raisedSoftLimit();  // once, thread-safely
    const rlim_t usable = soft > kReserve + 16 ? soft - kReserve : 16;
    return std::max<std::size_t>(16, std::min<std::size_t>(cap, static_cast<std::size_t>(usable)));
}

}  // namespace tw::platform
