#include "common/platform/display.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace tw::platform {

namespace {

// Runs in the background of a short-lived shell, so a hung X server or bus never holds up
// the caller; every tool is optional and all output is dropped.
constexpr const char* kWakeScript =
    "{ if [ -n \"$DISPLAY\" ] && command -v xset; then"
    " timeout 5 xset dpms force on; timeout 5 xset s reset; fi;"
    " if [ -n \"$DBUS_SESSION_BUS_ADDRESS\" ] && command -v dbus-send; then"
    " timeout 5 dbus-send --session --type=method_call --dest=org.freedesktop.ScreenSaver"
    " /org/freedesktop/ScreenSaver org.freedesktop.ScreenSaver.SimulateUserActivity; fi;"
    " } </dev/null >/dev/null 2>&1 &";

bool isSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

}  // namespace

void wakeDisplay() {
    if (!isSet("DISPLAY") && !isSet("DBUS_SESSION_BUS_ADDRESS")) return;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return;
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    char sh[] = "/bin/sh";
    char dashC[] = "-c";
    char* argv[] = {sh, dashC, const_cast<char*>(kWakeScript), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, sh, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return;
    // The shell only starts the background job and ends at once.
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace tw::platform
