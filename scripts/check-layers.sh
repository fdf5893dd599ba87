#!/usr/bin/env bash
# Fails, listing them, when code above the platform layer includes a system header: the
# programs reach the operating system only through common/platform/, so that another
# system's implementation can be put in beside posix/. Tests, fuzz targets and benchmarks
# may include what they need and are not checked.
set -euo pipefail
root=${1:-"$(cd "$(dirname "$0")/.." && pwd)"}
cd "$root"

# POSIX and C headers that only an operating system gives (the C++ standard headers, Qt and
# the libraries the project builds on are fine anywhere).
system_headers='unistd\.h|sys/[^>]*|fcntl\.h|signal\.h|csignal|poll\.h|pthread\.h|netinet/[^>]*|arpa/[^>]*|netdb\.h|net/[^>]*|ifaddrs\.h|pwd\.h|grp\.h|errno\.h|cerrno|time\.h|dirent\.h|termios\.h|syslog\.h|dlfcn\.h|spawn\.h|sched\.h|semaphore\.h|ucontext\.h|execinfo\.h|locale\.h|wctype\.h|systemd/[^>]*|xcb/[^>]*|X11/[^>]*|windows\.h|winsock2\.h|ws2tcpip\.h'

found=$(grep -rnE --include='*.cpp' --include='*.h' \
            "^[[:space:]]*#[[:space:]]*include[[:space:]]*<(${system_headers})>" \
            common client cli server | grep -v '^common/platform/' || true)
if [[ -n "$found" ]]; then
    echo "System headers above the platform layer (use or add a function in common/platform/):"
    echo "$found"
    exit 1
fi
echo "Layers: no system header above common/platform/."
