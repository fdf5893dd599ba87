#pragma once
// Optional authentication of the records on the wire. A keyed sender puts a trailer after the
// record — receivers that know no key ignore bytes beyond the record, so it still reaches
// them — made of the tag "TWS1", a time stamp (milliseconds since 1970, UTC, big-endian), a
// 128-bit random nonce and a proof over record + time stamp + nonce: an Ed25519 signature
// (64 bytes) for the operator's messages and probes, an HMAC-SHA-256 (32 bytes) under the
// office key for the workstations' reports.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tw::auth {

inline constexpr std::array<std::uint8_t, 4> kTrailerTag{'T', 'W', 'S', '1'};
inline constexpr std::size_t kNonceBytes = 16;
inline constexpr std::size_t kSignatureBytes = 64;
inline constexpr std::size_t kMacBytes = 32;
inline constexpr std::size_t kTrailerHead = 4 + 8 + kNonceBytes;
inline constexpr std::chrono::seconds kDefaultMaxClockSkew{600};

enum class KeyKind { OperatorSecret, OperatorPublic, Office };

struct Key {
    KeyKind kind = KeyKind::Office;
    std::vector<std::uint8_t> bytes;  // 64 (operator secret), 32 (operator public, office)
};

// What can be wrong with a key file.
enum class KeyFault {
    None,
    NoCryptography,  // the library could not start
    Missing,
    NotAFile,
    Unreadable,
    NotAKeyFile,
    WrongKind,     // a Tellwick key, of another kind (`found`)
    OpenToOthers,  // a secret key readable by group or others
    Malformed,
};

// A key read from its file, or why it could not be: `error` names the file and the fault in
// English; a program with an interface language words it from `fault` (and `found`).
struct KeyResult {
    std::optional<Key> key;
    KeyFault fault = KeyFault::None;
    KeyKind found = KeyKind::Office;  // WrongKind: what the file holds
    std::string error;
};

// The first line of a key file of that kind ("TELLWICK OPERATOR SECRET KEY", ...).
const char* keyHeader(KeyKind kind);

// Reads a key file of the expected kind. Secret keys (operator.key, office.key) must not be
// readable by group or others. Never falls back to anything: a fault is an error.
KeyResult readKeyFile(const std::filesystem::path& file, KeyKind expected);
// The same for a key file's text (`name` stands for the file in the error).
KeyResult parseKeyText(std::string_view text, KeyKind expected, std::string_view name);

// Writes operator.key (0600), operator.pub (0644) and office.key (0600) into `dir`; refuses
// when any of them exists. Empty on success, else what went wrong.
std::string generateKeys(const std::filesystem::path& dir);

// The record followed by its trailer.
std::vector<std::uint8_t> sign(std::span<const std::uint8_t> record, const Key& operatorSecret,
                               std::uint64_t nowMs);
std::vector<std::uint8_t> mac(std::span<const std::uint8_t> record, const Key& office,
                              std::uint64_t nowMs);

// Signs with the operator's secret key, as sign() does, and faster when it has nonce points
// made ahead of time. Most of an Ed25519 signature's cost is the point R = r·B of its nonce
// scalar r, which does not depend on the message: a Signer can make those while the server
// is idle, and a mailing pass then pays only for a hash and two scalar operations per
// packet. A prepared r is drawn at random (hashed with the key's secret prefix, so a weak
// random source alone does not give it away) and used for exactly one signature; the
// signatures are ordinary Ed25519 ones that every receiver checks as before. Without a
// prepared point a Signer signs with libsodium's own deterministic rule. Safe to share
// between threads.
class Signer {
public:
    explicit Signer(const Key& operatorSecret);
    ~Signer();
    Signer(const Signer&) = delete;
    Signer& operator=(const Signer&) = delete;

    // The record followed by its trailer.
    std::vector<std::uint8_t> sign(std::span<const std::uint8_t> record, std::uint64_t nowMs);

    // Makes one more nonce point unless `limit` are ready already; false when they are.
    bool prepareOne(std::size_t limit);
    std::size_t prepared() const;

private:
    struct Secret;
    std::unique_ptr<Secret> secret_;
    mutable std::mutex mutex_;  // guards points_ only; never held while computing
    std::vector<std::array<std::uint8_t, 64>> points_;  // r, then R = r·B
};

namespace detail {
// The Ed25519 signature of `msg` with the nonce scalar `r` (already reduced). Ed25519's own
// rule derives r from the key and the message (deterministicNonce); a Signer draws it ahead
// of time. Apart for the test that holds the two against each other.
std::array<std::uint8_t, kSignatureBytes> signWithNonce(const Key& operatorSecret,
                                                        std::span<const std::uint8_t> msg,
                                                        std::span<const std::uint8_t, 32> r);
std::array<std::uint8_t, 32> deterministicNonce(const Key& operatorSecret,
                                                std::span<const std::uint8_t> msg);
}  // namespace detail

// Remembers the nonces seen within the allowed clock skew, so that a packet taken off the wire
// and sent again is refused. Memory is bounded: at most `capacity` nonces; when full, a new
// packet is refused until old ones age out (a flood must not make room for a replay). Only
// packets whose proof is good are remembered, so the room is taken by real traffic alone: a
// mailing to 65,024 clients brings about 130,000 reports within the window.
class ReplayGuard {
public:
    explicit ReplayGuard(std::chrono::seconds maxSkew = kDefaultMaxClockSkew,
                         std::size_t capacity = 1u << 20);
    // Ok when the nonce is new (and now remembered), Replayed when it was seen, Full when no
    // room is left.
    enum class Admission { Ok, Replayed, Full };
    Admission admit(std::span<const std::uint8_t, kNonceBytes> nonce, std::uint64_t stampMs,
                    std::uint64_t nowMs);
    std::chrono::seconds maxSkew() const { return maxSkew_; }

private:
    std::chrono::seconds maxSkew_;
    std::size_t capacity_;
    std::unordered_map<std::string, std::uint64_t> seen_;  // nonce -> its time stamp
};

enum class Verdict { Ok, NoTrailer, BadProof, OutOfTime, Replayed, Full };

// Checks the trailer after the first `recordSize` bytes of `packet`: present, its proof
// right under the key (a signature for an operator public key, a MAC for an office key), its
// time stamp within the guard's skew of `nowMs`, its nonce new.
Verdict verify(std::span<const std::uint8_t> packet, std::size_t recordSize, const Key& key,
               ReplayGuard& guard, std::uint64_t nowMs);

// The reason in words, for the "REJECTED: " debug lines.
const char* verdictText(Verdict v);

// Milliseconds since 1970 (UTC) now.
std::uint64_t nowMs();

}  // namespace tw::auth
