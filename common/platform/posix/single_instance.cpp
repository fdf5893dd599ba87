#include "common/platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tw::platform {

namespace {

// The folder of the lock files; empty when there is none we can trust.
std::string lockDir() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg) return xdg;
    const uid_t uid = ::getuid();
    std::string dir = "/tmp/tellwick-" + std::to_string(uid);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    // Anyone can create names in /tmp: use the folder only if it is really ours.
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid ||
        (st.st_mode & 077) != 0)
        return {};
    return dir;
}

}  // namespace

SingleInstance::~SingleInstance() {
    if (fd_ >= 0) ::close(fd_);
}

SingleInstance::Result SingleInstance::acquire(const std::string& name) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    const std::string dir = lockDir();
    if (dir.empty()) return Result::Unavailable;
    const std::string file = dir + "/" + name + ".lock";
    // Close-on-exec: a child started by the program must not keep the guard alive.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Result::Unavailable;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? Result::AlreadyRunning : Result::Unavailable;
    }
    fd_ = fd;
    return Result::Acquired;
}

}  // namespace tw::platform
