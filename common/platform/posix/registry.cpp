#include "common/platform/registry.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "common/files.h"
#include "common/platform/file_io.h"

namespace tw::platform::registry {

namespace fs = std::filesystem;

fs::path root() {
    const char* env = std::getenv("TELLWICK_REGISTRY");
    if (env && *env) return fs::path(env);
    return fs::path("/var/lib/tellwick/registry");
}

fs::path keyPath(std::string_view key) {
    fs::path p = root();
    while (!key.empty()) {
        const auto sep = key.find('\\');
        const std::string_view part = key.substr(0, sep);
        // Doubled or trailing backslashes name no key of their own.
        if (!part.empty()) p /= std::string(part);
        if (sep == std::string_view::npos) break;
        key.remove_prefix(sep + 1);
    }
    return p;
}

std::optional<std::string> readValue(std::string_view key, std::string_view value) {
    const fs::path dir = keyPath(key);
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return std::nullopt;
    std::ifstream in(dir / std::string(value), std::ios::binary);
    if (!in) return std::nullopt;
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return data;
}

bool writeValue(std::string_view key, std::string_view value, std::string_view data) {
    const fs::path dir = keyPath(key);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir, ec)) return false;

    // A reader never sees a half-written value: the one atomic replacement of the programs.
    return writeFileAtomically(dir / std::string(value), data,
                               fs::perms::owner_read | fs::perms::owner_write |
                                   fs::perms::group_read | fs::perms::others_read);
}

bool removeValue(std::string_view key, std::string_view value) {
    return removeFile(keyPath(key) / std::string(value));
}

}  // namespace tw::platform::registry
