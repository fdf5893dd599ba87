#pragma once
// The decisions of the command-line sender, kept apart from main() so that tests can call
// them: reading the arguments, expanding the address list, the progress steps and the run.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/auth.h"
#include "common/packets.h"

namespace tw::cli {

// A list that expands to more addresses than this is refused before anything is sent: the
// whole list is held in memory, and a run of this size already takes some seconds.
inline constexpr std::size_t kMaxAddresses = std::size_t{1} << 20;

std::string usageText();
std::string helpText();
std::string versionText();

struct Options {
    std::string addressList;
    std::string text;      // UTF-8, outer double quotes removed and "|" already turned into LF
    int port = 0;          // 0: the default client port
    int mode = 0;          // 1 TCP, 2 UDP, 0 not given
    std::string language;  // "RU", "EN" or empty
    int requiredSeen = 0;  // address and text options seen, in any mix
    // The operator key that signs every packet; unsigned only when the option is absent (an
    // empty value is a missing file, never a quiet way back to unsigned packets).
    std::optional<std::string> keyFile;
};

// What reading the arguments decided: go on and send, or end now with `exitCode`.
struct ParseOutcome {
    bool send = false;
    int exitCode = 0;
    Options options;
};

// Reads the arguments (without the program name) and prints usage, help, version and the
// errors found on the way to `out`.
ParseOutcome parseArguments(const std::vector<std::string>& args, std::ostream& out);

// The numeric value of a port text: leading blanks, an optional sign and the digits that
// follow; anything without digits is 0. Values too large to hold come back out of range.
long long numericValue(std::string_view text);

enum class ListResult { Ok, BadAddress, TooMany };

// Splits the list at "," and expands every item into `out`: ranges by the odometer rule,
// then IPv4 addresses and computer names as written. Nothing usable is kept on error.
ListResult expandAddressList(std::string_view list, std::vector<std::string>& out,
                             std::size_t limit = kMaxAddresses);

// The percentage printed before sending to position `i` (counted from 1) of `n` addresses,
// or nothing when no progress line is due there.
std::optional<int> progressPercent(std::size_t i, std::size_t n);

MessagePacket buildPacket(const Options& options, std::string_view senderName,
                          std::u16string_view msgRootId);

// The block that goes to one address: the record as it is, or, with an operator key, the
// record with a trailer of its own (time stamp and nonce taken as it leaves), so that a long
// run never sends a stamp older than the receivers allow and no two copies share a nonce.
class Outgoing {
public:
    Outgoing(std::vector<std::uint8_t> record, std::optional<auth::Key> key);
    // The bytes for the next address; valid until the next call.
    std::span<const std::uint8_t> next();

private:
    std::vector<std::uint8_t> record_;
    std::optional<auth::Key> key_;
    std::vector<std::uint8_t> signed_;
};

// Opens a connection to one address, sends the block and closes it; a failure is not reported.
using SendFunction = std::function<void(const std::string& host, int port, Transport,
                                        std::span<const std::uint8_t>)>;

// Sends to every host over one transport, taking each host's block from `out.next()`. `started(i)`
// is called in list order as the attempt for hosts[i] begins; attempts may run side by side, and
// the function returns when the last one has ended.
using SendAllFunction =
    std::function<void(const std::vector<std::string>& hosts, int port, Transport, Outgoing& out,
                       const std::function<void(std::size_t)>& started)>;

// The whole program after start-up: returns the exit code.
int run(const std::vector<std::string>& args, std::ostream& out, const SendAllFunction& sendAll,
        std::string_view senderName);
// The same with one address sent at a time.
int run(const std::vector<std::string>& args, std::ostream& out, const SendFunction& send,
        std::string_view senderName);

}  // namespace tw::cli
