#include "common/platform/paths.h"

#include <unistd.h>

#include <algorithm>
#include <string>

namespace tw::platform {

std::filesystem::path fromConfigPath(std::string_view text) {
    std::string s(text);
    std::replace(s.begin(), s.end(), '\\', '/');
    return std::filesystem::path(s);
}

std::filesystem::path programPath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : p;
}

}  // namespace tw::platform
