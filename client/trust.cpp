#include "client/trust.h"

#include <algorithm>

#include "common/platform/paths.h"

namespace tw::client {

namespace {

// A day: beyond that the replay memory, not the clock, would decide what gets through, and a
// flood that fills it would shut the operator out for as long.
constexpr std::int64_t kMaxSkewLimit = 86400;

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool allDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::uint32_t> address(std::string_view text) {
    std::uint8_t b[4];
    if (!net::parseIPv4(text, b)) return std::nullopt;
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
           b[3];
}

}  // namespace

std::string AllowList::parse(std::string_view text) {
    nets_.clear();
    if (trimmed(text).empty()) return {};
    std::vector<Net> nets;
    for (;;) {
        const auto comma = text.find(',');
        const std::string_view item = trimmed(text.substr(0, comma));
        // An empty entry is refused rather than skipped: a list of nothing but commas would
        // otherwise open the client to every address.
        if (item.empty()) return "an empty entry";
        const auto slash = item.find('/');
        const auto base = address(item.substr(0, slash));
        std::uint32_t mask = 0xFFFFFFFFu;
        bool good = base.has_value();
        if (good && slash != std::string_view::npos) {
            const std::string_view bits = item.substr(slash + 1);
            good = allDigits(bits) && bits.size() <= 2 && std::stoi(std::string(bits)) <= 32;
            if (good) {
                const int n = std::stoi(std::string(bits));
                mask = n == 0 ? 0 : 0xFFFFFFFFu << (32 - n);
            }
        }
        if (!good)
            return "\"" + std::string(item) +
                   "\" is neither an IPv4 address nor a network a.b.c.d/n";
        nets.push_back({*base & mask, mask});
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    nets_ = std::move(nets);
    return {};
}

bool AllowList::allows(std::string_view dotted) const {
    if (nets_.empty()) return true;
    const auto a = address(dotted);
    if (!a) return false;
    return std::any_of(nets_.begin(), nets_.end(),
                       [&](const Net& n) { return (*a & n.mask) == n.base; });
}

TrustResult loadTrust(const ClientConfig& config) {
    TrustResult r;
    Trust t;
    const std::string file = config.file.string();
    if (std::string e = t.allowFrom.parse(config.allowFrom); !e.empty()) {
        r.error = file + ": Net.AllowFrom: " + e;
        return r;
    }
    if (!trimmed(config.operatorKey).empty()) {
        auth::KeyResult k = auth::readKeyFile(platform::fromConfigPath(trimmed(config.operatorKey)),
                                              auth::KeyKind::OperatorPublic);
        if (!k.key) {
            r.error = k.error;
            return r;
        }
        t.operatorKey = std::move(k.key);
        const std::string_view skew = trimmed(config.maxClockSkewText);
        if (!skew.empty()) {
            if (!allDigits(skew) || config.maxClockSkew < 1 ||
                config.maxClockSkew > kMaxSkewLimit) {
                r.error = file + ": Sec.MaxClockSkew: \"" + std::string(skew) +
                          "\" is not a number of seconds from 1 to " +
                          std::to_string(kMaxSkewLimit);
                return r;
            }
            t.maxClockSkew = std::chrono::seconds(config.maxClockSkew);
        }
    }
    if (!trimmed(config.officeKey).empty()) {
        auth::KeyResult k = auth::readKeyFile(platform::fromConfigPath(trimmed(config.officeKey)),
                                              auth::KeyKind::Office);
        if (!k.key) {
            r.error = k.error;
            return r;
        }
        t.officeKey = std::move(k.key);
    }
    r.trust = std::move(t);
    return r;
}

PacketGate::PacketGate(const Trust& trust)
    : allowFrom_(trust.allowFrom), operatorKey_(trust.operatorKey), guard_(trust.maxClockSkew) {}

std::size_t PacketGate::readSize() const {
    return operatorKey_ ? kMessagePacketSize + auth::kTrailerHead + auth::kSignatureBytes
                        : kMessagePacketSize;
}

std::optional<std::string> PacketGate::refuse(const net::Received& packet, std::uint64_t nowMs) {
    if (!allowFrom_.allows(packet.peerAddress)) return std::string("not allowed");
    // No bytes is no packet: nothing is done with it either way.
    if (!operatorKey_ || packet.data.empty()) return std::nullopt;
    const auth::Verdict v =
        auth::verify(packet.data, kMessagePacketSize, *operatorKey_, guard_, nowMs);
    if (v == auth::Verdict::Ok) return std::nullopt;
    return std::string(auth::verdictText(v));
}

std::string rejectedLine(std::string_view peer, std::string_view reason) {
    return "REJECTED: ServerIP = " + std::string(peer) + ", Reason = " + std::string(reason);
}

bool RejectionTally::note(std::size_t n, Clock::time_point now) {
    pending_ += n;
    return pending_ > 0 && (!told_ || now >= nextAllowed());
}

std::size_t RejectionTally::take(Clock::time_point now) {
    const std::size_t n = pending_;
    pending_ = 0;
    told_ = true;
    last_ = now;
    return n;
}

}  // namespace tw::client
