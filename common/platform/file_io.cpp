#include "common/platform/file_io.h"

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tw::platform {

namespace fs = std::filesystem;

#ifndef _WIN32

namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool syncFolderOf(const fs::path& file) {
    fs::path folder = file.parent_path();
    if (folder.empty()) folder = ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    ::close(fd);
    return rc == 0;
}

}  // namespace

bool writeNewFileSynced(const fs::path& file, std::string_view bytes, const fs::path& modelFile) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat st {};
    if (::stat(modelFile.c_str(), &st) == 0) (void)::fchmod(fd, st.st_mode & 07777);
    bool ok = writeAll(fd, bytes);
    // Without this the rename could reach the disk before the data, and a power cut would
    // leave an empty file under the real name.
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    return ok;
}

bool replaceFileSynced(const fs::path& from, const fs::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    // The rename lives in the folder; until the folder is on the disk a power cut can bring
    // back the old name or lose both.
    (void)syncFolderOf(to);
    return true;
}

void appendInOneWrite(const char* path, std::string_view bytes) {
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    (void)writeAll(fd, bytes);
    ::close(fd);
}

unsigned long processId() { return static_cast<unsigned long>(::getpid()); }

#else

bool writeNewFileSynced(const fs::path& file, std::string_view bytes, const fs::path&) {
    std::error_code ec;
    if (fs::exists(file, ec)) return false;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    const bool ok = static_cast<bool>(out);
    out.close();
    return ok && !out.fail();
}

bool replaceFileSynced(const fs::path& from, const fs::path& to) {
    return ::MoveFileExW(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void appendInOneWrite(const char* path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

unsigned long processId() { return static_cast<unsigned long>(::GetCurrentProcessId()); }

#endif

}  // namespace tw::platform
