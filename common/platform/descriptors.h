#pragma once
#include <cstddef>

namespace tw::platform {

// How many connection attempts a program may keep under way at once without running out of
// descriptors. The first call raises the process's soft descriptor limit to its hard limit
// (the system's own advice for programs that need many), then leaves room for the files,
// sockets and window connection the program holds besides. At most `cap`, at least 16.
std::size_t connectionAttemptLimit(std::size_t cap = 4096);

}  // namespace tw::platform
