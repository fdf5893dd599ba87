#pragma once
#include <filesystem>
#include <string_view>

namespace tw::platform {

// A path as written in a configuration file, with backslashes read as separators
// (".\clients.xml" opens "./clients.xml"). The caller keeps the text as written.
std::filesystem::path fromConfigPath(std::string_view text);

// Full path of the running program file.
std::filesystem::path programPath();

}  // namespace tw::platform
