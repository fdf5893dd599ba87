#include <sstream>
#include <vector>

#include "cli/cli.h"
#include "common/addresses.h"
#include "fuzz/checks.h"

namespace tw::fuzz {

std::string checkCommandLine(Bytes input) {
    std::vector<std::string> args(1);
    for (std::uint8_t b : input) {
        if (b == 0)
            args.emplace_back();
        else
            args.back().push_back(static_cast<char>(b));
    }
    std::ostringstream out;
    std::size_t sent = 0;
    const int code = cli::run(
        args, out,
        [&](const std::string& host, int port, Transport mode, std::span<const std::uint8_t> b) {
            if (host.empty() || port <= 0 || port > 65535 || b.size() != kMessagePacketSize ||
                (mode != Transport::Tcp && mode != Transport::Udp))
                sent = static_cast<std::size_t>(-1);
            else
                ++sent;
        },
        "FUZZ-PC");
    if (code != 0 && code != -1) return "an exit code outside 0 and -1";
    if (sent == static_cast<std::size_t>(-1)) return "a send with a bad address, port or block";
    if (code == -1 && sent != 0) return "addresses were sent to before an error";

    // Every argument as an address list on its own: what the expansion keeps is usable.
    for (const std::string& list : args) {
        std::vector<std::string> addresses{"kept"};
        const auto r = cli::expandAddressList(list, addresses, 4096);
        if (r != cli::ListResult::Ok && addresses.size() != 1)
            return "a failed list kept addresses";
        if (addresses.front() != "kept") return "the list lost what it held before";
        if (r == cli::ListResult::Ok && addresses.size() > 4097) return "the limit was passed";
        for (std::size_t i = 1; i < addresses.size(); ++i)
            if (!addr::matchesIPv4Pattern(addresses[i]) &&
                !addr::matchesNetbiosPattern(addresses[i]))
                return "an address that is neither address nor name: " + addresses[i];
    }
    return {};
}

}  // namespace tw::fuzz
