#include "common/platform/host_names.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/text.h"

namespace tw::platform {

namespace {

std::string hostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

}  // namespace

std::string netbiosName() {
    const std::string host = hostName();
    return asciiUpper(host.substr(0, host.find('.')));
}

std::string fqdnName() {
    const std::string host = hostName();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* res = nullptr;
    std::string name;
    if (!host.empty() && ::getaddrinfo(host.c_str(), nullptr, &hints, &res) == 0) {
        if (res && res->ai_canonname) name = res->ai_canonname;
        ::freeaddrinfo(res);
    }
    if (name.empty()) return std::string(64, ' ');
    name = asciiUpper(name);
    if (name.size() > 64) name.resize(64);
    return name;
}

}  // namespace tw::platform
