#include "common/platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "common/platform/posix/write_all.h"

namespace tw::platform {

namespace fs = std::filesystem;

namespace {

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

bool writeNewFileSynced(const fs::path& file, std::string_view bytes, const fs::path& modelFile,
                        std::optional<fs::perms> permissions) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    if (permissions) {
        ok = ::fchmod(fd, static_cast<mode_t>(*permissions) & 07777) == 0;
    } else {
        struct stat st {};
        if (::stat(modelFile.c_str(), &st) == 0) (void)::fchmod(fd, st.st_mode & 07777);
    }
    ok = ok && posix::writeAll(fd, bytes);
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
    (void)posix::writeAll(fd, bytes);
    ::close(fd);
}

void emptyFile(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
}

bool removeFile(const fs::path& file) {
    return ::unlink(file.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR;
}

unsigned long processId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace tw::platform
