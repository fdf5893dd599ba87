#pragma once
// The named-mutex stand-in: an exclusive flock on "<name>.lock" in $XDG_RUNTIME_DIR (or
// /tmp/tellwick-<uid>), held for the life of the process.
#include <string>

namespace tw::platform {

class SingleInstance {
public:
    enum class Result { Acquired, AlreadyRunning, Unavailable };
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Unavailable: the lock file could not be created; the program goes on without a guard.
    Result acquire(const std::string& name);

private:
    int fd_ = -1;
};

}  // namespace tw::platform
