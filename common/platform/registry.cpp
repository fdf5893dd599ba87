#include "common/platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tw::platform::registry {

namespace fs = std::filesystem;

namespace {

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

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

    // A reader never sees a half-written value: write aside, then rename over it.
    std::string tmp = (dir / ("." + std::string(value) + ".XXXXXX")).string();
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0644) == 0 && writeAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmp.c_str(), (dir / std::string(value)).c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

bool removeValue(std::string_view key, std::string_view value) {
    const fs::path file = keyPath(key) / std::string(value);
    return ::unlink(file.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR;
}

}  // namespace tw::platform::registry
