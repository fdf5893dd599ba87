#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "client/trust.h"
#include "common/auth.h"
#include "common/packets.h"
#include "fuzz/checks.h"

namespace tw::fuzz {

namespace {

using namespace std::chrono_literals;

// A key pair and an office key fixed for good: the seeds were signed and MACed with them at
// kNowMs, so that they reach the paths behind a good proof.
constexpr std::array<std::uint8_t, 64> kOperatorSecret = {
    0xb9, 0x0d, 0x97, 0x62, 0xf9, 0xb6, 0x96, 0x7b, 0x9d, 0x6a, 0x9b, 0x77, 0x20, 0xe8, 0xce, 0x53,
    0x45, 0xf1, 0x9b, 0x50, 0x87, 0x22, 0x40, 0xe5, 0x76, 0x8d, 0xa9, 0x74, 0x13, 0xc2, 0xaa, 0xfa,
    0x47, 0x1f, 0xc1, 0xdf, 0x23, 0x8b, 0x13, 0x8b, 0x6e, 0xd6, 0x4c, 0xd6, 0x7c, 0xd7, 0x05, 0xd9,
    0xe2, 0x69, 0x06, 0x00, 0x8c, 0xb6, 0x3f, 0xbf, 0x2a, 0xc2, 0xe2, 0x9e, 0x4e, 0x33, 0x43, 0x73};
constexpr std::array<std::uint8_t, 32> kOffice = {
    0xf3, 0x3d, 0xfa, 0x7f, 0xcc, 0x58, 0x39, 0xc6, 0x65, 0xcf, 0x70, 0xdb, 0x39, 0xe0, 0x35, 0x69,
    0x18, 0xfa, 0xfd, 0x45, 0xee, 0xde, 0xa4, 0x47, 0xd8, 0x20, 0x88, 0xc6, 0x7d, 0x99, 0x44, 0x00};
constexpr std::uint64_t kNowMs = 1796900000000;  // 2026-12-10 10:53:20 UTC
constexpr std::uint64_t kSkewMs = 600 * 1000;

auth::Key key(auth::KeyKind kind, const std::uint8_t* from, std::size_t n) {
    return auth::Key{kind, std::vector<std::uint8_t>(from, from + n)};
}

std::uint64_t stampOf(Bytes packet, std::size_t recordSize) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | packet[recordSize + 4 + i];
    return v;
}

// One kind of proof over one kind of record: what the input verifies to must be what its
// bytes allow, and a packet that verifies must stop doing so when it is replayed, late or
// changed.
std::string checkProof(Bytes input, std::size_t recordSize, const auth::Key& key,
                       std::size_t proofBytes, const char* what) {
    const std::string name(what);
    auth::ReplayGuard guard(600s, 4);
    const auth::Verdict v = auth::verify(input, recordSize, key, guard, kNowMs);
    const bool complete = input.size() >= recordSize + auth::kTrailerHead + proofBytes &&
                          std::equal(auth::kTrailerTag.begin(), auth::kTrailerTag.end(),
                                     input.begin() + static_cast<long>(recordSize));
    if ((v == auth::Verdict::NoTrailer) == complete)
        return name + ": a trailer was missed or one was seen where there is none";
    if (v != auth::Verdict::Ok) return {};

    const std::uint64_t stamp = stampOf(input, recordSize);
    if (stamp + kSkewMs < kNowMs || stamp > kNowMs + kSkewMs)
        return name + ": a time stamp outside the skew was taken";
    if (auth::verify(input, recordSize, key, guard, kNowMs) != auth::Verdict::Replayed)
        return name + ": a replay was taken";
    auth::ReplayGuard later(600s, 4);
    if (auth::verify(input, recordSize, key, later, stamp + kSkewMs + 1) !=
        auth::Verdict::OutOfTime)
        return name + ": a packet past the skew was taken";
    // One bit changed anywhere in what the proof covers, or in the proof itself.
    std::vector<std::uint8_t> changed(input.begin(), input.end());
    for (const std::size_t at :
         {std::size_t{0}, recordSize - 1, recordSize + 4, recordSize + auth::kTrailerHead - 1,
          recordSize + auth::kTrailerHead + proofBytes - 1}) {
        changed[at] ^= 0x01;
        auth::ReplayGuard fresh(600s, 4);
        if (auth::verify(changed, recordSize, key, fresh, kNowMs) != auth::Verdict::BadProof)
            return name + ": a changed packet was taken (byte " + std::to_string(at) + ")";
        changed[at] ^= 0x01;
    }
    return {};
}

}  // namespace

std::string checkTrailer(Bytes input) {
    const auth::Key secret =
        key(auth::KeyKind::OperatorSecret, kOperatorSecret.data(), kOperatorSecret.size());
    // libsodium keeps the public half at the end of the secret key.
    const auth::Key pub = key(auth::KeyKind::OperatorPublic, kOperatorSecret.data() + 32, 32);
    const auth::Key office = key(auth::KeyKind::Office, kOffice.data(), kOffice.size());

    if (auto p = checkProof(input, kMessagePacketSize, pub, auth::kSignatureBytes, "signature");
        !p.empty())
        return p;
    if (auto p = checkProof(input, kReportPacketSize, office, auth::kMacBytes, "mac"); !p.empty())
        return p;

    // The client's gate says what verify says, and only lets a packet through once.
    client::Trust trust;
    trust.operatorKey = pub;
    client::PacketGate gate(trust);
    const net::Received got{Transport::Udp, "127.0.0.1",
                            std::vector<std::uint8_t>(input.begin(), input.end())};
    auth::ReplayGuard guard(600s, 4);
    const bool ok =
        auth::verify(input, kMessagePacketSize, pub, guard, kNowMs) == auth::Verdict::Ok;
    if (gate.refuse(got, kNowMs).has_value() == ok && !input.empty())
        return "the client's gate differs from verify";
    if (ok && !gate.refuse(got, kNowMs)) return "the client's gate took a replay";

    // Whatever the record, signing and MACing it gives packets that pass, once.
    std::vector<std::uint8_t> record(input.begin(), input.end());
    record.resize(kMessagePacketSize);
    const auto s = auth::sign(record, secret, kNowMs);
    if (auto p = checkProof(s, kMessagePacketSize, pub, auth::kSignatureBytes, "own signature");
        !p.empty())
        return p;
    auth::ReplayGuard own(600s, 4);
    if (auth::verify(s, kMessagePacketSize, pub, own, kNowMs) != auth::Verdict::Ok)
        return "a packet signed here does not verify";
    // The signing path of prepared nonces computes libsodium's signature when handed
    // libsodium's own nonce; a signer with a prepared point makes one that verifies.
    std::vector<std::uint8_t> covered(s.begin(), s.begin() + kMessagePacketSize + auth::kTrailerHead);
    covered.erase(covered.begin() + kMessagePacketSize, covered.begin() + kMessagePacketSize + 4);
    const auto sig = auth::detail::signWithNonce(
        secret, covered, auth::detail::deterministicNonce(secret, covered));
    if (!std::equal(sig.begin(), sig.end(), s.end() - auth::kSignatureBytes))
        return "a signature from a given nonce differs from libsodium's";
    auth::Signer signer(secret);
    signer.prepareOne(1);
    auth::ReplayGuard prepared(600s, 4);
    if (auth::verify(signer.sign(record, kNowMs), kMessagePacketSize, pub, prepared, kNowMs) !=
        auth::Verdict::Ok)
        return "a packet signed from a prepared nonce does not verify";
    record.resize(kReportPacketSize);
    const auto m = auth::mac(record, office, kNowMs);
    auth::ReplayGuard ownMac(600s, 4);
    if (auth::verify(m, kReportPacketSize, office, ownMac, kNowMs) != auth::Verdict::Ok)
        return "a report MACed here does not verify";
    // A MAC is no signature, and the operator's key makes no office MAC.
    auth::ReplayGuard cross(600s, 4);
    if (auth::verify(m, kReportPacketSize, pub, cross, kNowMs) == auth::Verdict::Ok)
        return "a MAC passed as a signature";

    // Net.AllowFrom read from the input: a fault leaves nothing that could let anyone in.
    client::AllowList allow;
    if (!allow.parse(std::string(input.begin(), input.end())).empty() && !allow.empty())
        return "a refused allow list kept entries";
    return {};
}

}  // namespace tw::fuzz
