#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace tw::platform {

// A path as written in a configuration file, with backslashes read as separators
// (".\clients.xml" opens "./clients.xml"). The caller keeps the text as written.
std::filesystem::path fromConfigPath(std::string_view text);

// A path (UTF-8) in the letter case the system compares paths in: every letter the C.UTF-8
// locale knows in upper case, not only ASCII, so a Cyrillic folder name in other case still
// counts as the same path.
std::u16string pathCompareForm(std::string_view utf8);

// Full path of the running program file.
std::filesystem::path programPath();

}  // namespace tw::platform
