#pragma once
// Who the client takes packets from: the addresses of Net.AllowFrom, and with an operator key
// only packets the operator signed, fresh and not seen before. Also the office key that its
// reports are authenticated with.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/config.h"
#include "common/auth.h"
#include "common/net.h"

namespace tw::client {

// IPv4 addresses and networks; an empty list stands for every address.
class AllowList {
public:
    // Reads "a.b.c.d, a.b.c.d/n, ..."; empty on success, else the fault in words.
    std::string parse(std::string_view text);
    bool empty() const { return nets_.empty(); }
    // Whether a dotted IPv4 address is on the list (always, when the list is empty).
    bool allows(std::string_view dotted) const;

private:
    struct Net {
        std::uint32_t base, mask;
    };
    std::vector<Net> nets_;
};

struct Trust {
    AllowList allowFrom;
    std::optional<auth::Key> operatorKey;
    std::optional<auth::Key> officeKey;
    std::chrono::seconds maxClockSkew = auth::kDefaultMaxClockSkew;
};

struct TrustResult {
    std::optional<Trust> trust;
    std::string error;  // names the file and the fault
};

// The settings of `config` made usable: the allow list parsed, the key files read. Any fault
// is an error; nothing is left out to keep the client running.
TrustResult loadTrust(const ClientConfig& config);

// Decides, on the thread that reads the network, whether a packet is handled at all.
class PacketGate {
public:
    explicit PacketGate(const Trust& trust);
    // How many bytes of a packet to read: with a key, the record and its trailer.
    std::size_t readSize() const;
    // Empty when the packet may be handled, else the reason it is refused.
    std::optional<std::string> refuse(const net::Received& packet, std::uint64_t nowMs);

private:
    AllowList allowFrom_;
    std::optional<auth::Key> operatorKey_;
    auth::ReplayGuard guard_;
};

// "REJECTED: ServerIP = ..., Reason = ..."
std::string rejectedLine(std::string_view peer, std::string_view reason);

// Keeps the event log to at most one record of refused packets per interval: the first
// refusal after a quiet interval is told at once, those that follow it within the interval
// are counted and told together when the interval is over.
class RejectionTally {
public:
    using Clock = std::chrono::steady_clock;
    explicit RejectionTally(std::chrono::milliseconds interval) : interval_(interval) {}
    // Counts `n` refusals; true when a record may be written now (take() it).
    bool note(std::size_t n, Clock::time_point now);
    // The refusals not yet told, now told.
    std::size_t take(Clock::time_point now);
    std::size_t pending() const { return pending_; }
    // When the next record may be written.
    Clock::time_point nextAllowed() const { return last_ + interval_; }

private:
    std::chrono::milliseconds interval_;
    std::size_t pending_ = 0;
    bool told_ = false;
    Clock::time_point last_{};
};

}  // namespace tw::client
