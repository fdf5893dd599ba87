#pragma once
// The one loop that hands a whole buffer to a descriptor, for every part of the POSIX
// implementation (files, standard error, the fault report). Internal to the platform layer.
#include <cstddef>
#include <string_view>

namespace tw::platform::posix {

// Writes all `size` bytes, going on after short writes and interrupted calls. False when the
// descriptor refuses more (an error, or a write that takes nothing). Async-signal-safe: the
// fault report calls it from its handler.
bool writeAll(int fd, const void* data, std::size_t size);
inline bool writeAll(int fd, std::string_view bytes) {
    return writeAll(fd, bytes.data(), bytes.size());
}

}  // namespace tw::platform::posix
