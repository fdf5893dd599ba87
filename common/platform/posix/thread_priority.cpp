#include "common/platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tw::platform {

void lowerThisThreadsPriority() {
    // On Linux a nice value belongs to a thread when it is set by the thread's own id.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    (void)::setpriority(PRIO_PROCESS, tid, 19);
}

}  // namespace tw::platform
