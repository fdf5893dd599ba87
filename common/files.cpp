#include "common/files.h"

#include <atomic>
#include <cerrno>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <cstdio>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tw {

namespace fs = std::filesystem;

std::optional<std::string> readWholeFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

namespace {

fs::path temporaryNameFor(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
#ifdef _WIN32
    const unsigned long pid = 0;
#else
    const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
    fs::path tmp = target;
    tmp += ".tmp" + std::to_string(pid) + "-" + std::to_string(counter++);
    return tmp;
}

#ifndef _WIN32
bool writeAllAndSync(const fs::path& tmp, std::string_view bytes, const fs::path& target) {
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    // Keep the permissions of the file being replaced.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) (void)::fchmod(fd, st.st_mode & 07777);
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    return ok;
}
#else
bool writeAllAndSync(const fs::path& tmp, std::string_view bytes, const fs::path&) {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    const bool ok = static_cast<bool>(out);
    out.close();
    return ok && !out.fail();
}
#endif

}  // namespace

bool writeFileAtomically(const fs::path& path, std::string_view bytes) {
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (ec) return false;
        target = resolved;
    }
    const fs::path tmp = temporaryNameFor(target);
    if (!writeAllAndSync(tmp, bytes, target)) {
        fs::remove(tmp, ec);
        return false;
    }
    fs::rename(tmp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(tmp, ignored);
        return false;
    }
    return true;
}

void appendWhole(const char* path, std::string_view bytes) {
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    ::close(fd);
}

}  // namespace tw
