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
    // What run() does, with a narrower address bound: a list of the full 1,048,576 addresses
    // is allowed and takes longer than the fuzzer's hang limit under the sanitizers.
    std::ostringstream out;
    const cli::ParseOutcome parsed = cli::parseArguments(args, out);
    if (parsed.exitCode != 0 && parsed.exitCode != -1) return "an exit code outside 0 and -1";
    if (parsed.send) {
        const cli::Options& o = parsed.options;
        if (o.port < 0 || o.port > 65535) return "a port outside 0..65535 was taken";
        std::vector<std::string> addresses;
        if (cli::expandAddressList(o.addressList, addresses, 65536) == cli::ListResult::Ok) {
            const auto bytes = cli::buildPacket(o, "FUZZ-PC", u"123456789").serialize();
            if (MessagePacket::parse(bytes).msgText.size() > kMsgTextWidth)
                return "a text beyond its field";
            std::size_t lines = 0;
            for (std::size_t i = 1; i <= addresses.size(); ++i)
                if (const auto percent = cli::progressPercent(i, addresses.size())) {
                    if (*percent < 0 || *percent >= 100) return "a progress beyond 0..99%";
                    ++lines;
                }
            if (lines > 10) return "more than ten progress lines";
        }
    }

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
