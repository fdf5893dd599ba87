#include "common/auth.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace tw::auth {

const char* keyHeader(KeyKind kind) {
    switch (kind) {
        case KeyKind::OperatorSecret:
            return "TELLWICK OPERATOR SECRET KEY";
        case KeyKind::OperatorPublic:
            return "TELLWICK OPERATOR PUBLIC KEY";
        case KeyKind::Office:
            return "TELLWICK OFFICE KEY";
    }
    return "";
}

namespace {

namespace fs = std::filesystem;

bool ready() {
    // Thread-safe and idempotent; a static keeps it to one call.
    static const bool ok = sodium_init() >= 0;
    return ok;
}

std::size_t keyBytes(KeyKind kind) {
    return kind == KeyKind::OperatorSecret   ? crypto_sign_SECRETKEYBYTES
           : kind == KeyKind::OperatorPublic ? crypto_sign_PUBLICKEYBYTES
                                             : crypto_auth_hmacsha256_KEYBYTES;
}

bool secret(KeyKind kind) { return kind != KeyKind::OperatorPublic; }

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return s;
}

std::string base64(std::span<const std::uint8_t> bytes) {
    std::string out(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    out.resize(out.size() - 1);  // the terminator
    return out;
}

void putStamp(std::vector<std::uint8_t>& out, std::uint64_t ms) {
    for (int shift = 56; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(ms >> shift));
}

std::uint64_t getStamp(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

// What the proof covers: the record, the time stamp and the nonce, in that order.
std::vector<std::uint8_t> covered(std::span<const std::uint8_t> record, const std::uint8_t* stamp,
                                  const std::uint8_t* nonce) {
    std::vector<std::uint8_t> msg(record.begin(), record.end());
    msg.insert(msg.end(), stamp, stamp + 8);
    msg.insert(msg.end(), nonce, nonce + kNonceBytes);
    return msg;
}

// The record with the trailer's head (tag, stamp, a fresh nonce); the proof goes after it.
std::vector<std::uint8_t> withHead(std::span<const std::uint8_t> record, std::uint64_t nowMs,
                                   std::size_t proofBytes) {
    std::vector<std::uint8_t> out;
    out.reserve(record.size() + kTrailerHead + proofBytes);
    out.assign(record.begin(), record.end());
    out.insert(out.end(), kTrailerTag.begin(), kTrailerTag.end());
    putStamp(out, nowMs);
    out.resize(out.size() + kNonceBytes);
    randombytes_buf(out.data() + out.size() - kNonceBytes, kNonceBytes);
    return out;
}

std::string writeNew(const fs::path& file, const std::string& text, bool isSecret) {
    // "x": never over an existing file, even one made a moment ago by someone else.
    std::FILE* f = std::fopen(file.c_str(), "wx");
    if (!f) return "cannot create " + file.string();
    std::error_code ec;
    // Narrowed before the first byte of the key is written.
    fs::permissions(file,
                    isSecret ? fs::perms::owner_read | fs::perms::owner_write
                             : fs::perms::owner_read | fs::perms::owner_write |
                                   fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::replace, ec);
    const bool ok = !ec && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) {
        fs::remove(file, ec);
        return "cannot write " + file.string();
    }
    return {};
}

std::string faultWords(KeyFault fault, KeyKind found, KeyKind expected) {
    switch (fault) {
        case KeyFault::None:
            return {};
        case KeyFault::NoCryptography:
            return "the cryptography library could not start";
        case KeyFault::Missing:
            return "the key file is missing";
        case KeyFault::NotAFile:
            return "not a regular file";
        case KeyFault::Unreadable:
            return "the key file cannot be read";
        case KeyFault::NotAKeyFile:
            return "not a Tellwick key file";
        case KeyFault::WrongKind:
            return std::string("a key of the wrong kind (") + keyHeader(found) + ", not " +
                   keyHeader(expected) + ")";
        case KeyFault::OpenToOthers:
            return "the secret key is readable by others (chmod 600 it)";
        case KeyFault::Malformed:
            return "the key is malformed";
    }
    return {};
}

// What a key file that cannot be used reads as: no key, the fault, and the fault in words.
KeyResult failed(std::string_view name, KeyFault fault, KeyKind expected,
                 KeyKind found = KeyKind::Office) {
    KeyResult r;
    r.fault = fault;
    r.found = found;
    r.error = std::string(name) + ": " + faultWords(fault, found, expected);
    return r;
}

// A key file is two short lines; anything much longer is not one.
constexpr std::size_t kKeyFileLimit = 4096;

// The text of a key file read as a key of `expected` kind. `openToOthers`: the file may be
// read by group or others, which a secret key's must not; it is judged after the kind, so a
// public key named as a secret one is called by its name, not by its mode.
KeyResult parseKey(std::string_view text, KeyKind expected, std::string_view name,
                   bool openToOthers) {
    const auto fail = [&](KeyFault fault, KeyKind found = KeyKind::Office) {
        return failed(name, fault, expected, found);
    };
    if (!ready()) return fail(KeyFault::NoCryptography);
    const auto takeLine = [&text] {
        const auto end = text.find('\n');
        std::string line(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        return trim(std::move(line));
    };
    const std::string first = takeLine();
    std::string second = takeLine();
    const bool nothingElse = text.find_first_not_of(" \t\r\n") == std::string_view::npos;
    if (first != keyHeader(expected)) {
        for (const KeyKind other :
             {KeyKind::OperatorSecret, KeyKind::OperatorPublic, KeyKind::Office}) {
            if (first == keyHeader(other)) return fail(KeyFault::WrongKind, other);
        }
        return fail(KeyFault::NotAKeyFile);
    }
    if (secret(expected) && openToOthers) return fail(KeyFault::OpenToOthers);
    std::vector<std::uint8_t> bytes(keyBytes(expected) + 1);
    std::size_t got = 0;
    const bool decoded =
        sodium_base642bin(bytes.data(), bytes.size(), second.data(), second.size(), nullptr,
                          &got, nullptr, sodium_base64_VARIANT_ORIGINAL) == 0 &&
        got == keyBytes(expected) && nothingElse;
    sodium_memzero(second.data(), second.size());
    bytes.resize(std::min(got, bytes.size()));
    bool whole = decoded;
    if (decoded && expected == KeyKind::OperatorSecret) {
        // The second half is the public key; one that its seed does not give would make
        // signatures that no workstation accepts.
        std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> pub{};
        std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> sec{};
        crypto_sign_seed_keypair(pub.data(), sec.data(), bytes.data());
        sodium_memzero(sec.data(), sec.size());
        whole = std::equal(pub.begin(), pub.end(), bytes.begin() + 32);
    }
    if (!whole) {
        sodium_memzero(bytes.data(), bytes.size());
        return fail(KeyFault::Malformed);
    }
    KeyResult r;
    r.key = Key{expected, std::move(bytes)};
    return r;
}

}  // namespace

KeyResult parseKeyText(std::string_view text, KeyKind expected, std::string_view name) {
    return parseKey(text, expected, name, false);
}

KeyResult readKeyFile(const fs::path& file, KeyKind expected) {
    const std::string name = file.string();
    const auto fail = [&](KeyFault fault) { return failed(name, fault, expected); };
    std::error_code ec;
    const auto st = fs::status(file, ec);
    if (ec || !fs::exists(st)) return fail(KeyFault::Missing);
    if (!fs::is_regular_file(st)) return fail(KeyFault::NotAFile);
    std::ifstream in(file, std::ios::binary);
    if (!in) return fail(KeyFault::Unreadable);
    std::string text(kKeyFileLimit + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) return fail(KeyFault::Unreadable);
    text.resize(static_cast<std::size_t>(in.gcount()));
    const auto open = fs::perms::group_all | fs::perms::others_all;
    KeyResult r = text.size() > kKeyFileLimit
                      ? fail(KeyFault::Malformed)
                      : parseKey(text, expected, name, (st.permissions() & open) != fs::perms::none);
    sodium_memzero(text.data(), text.size());
    return r;
}

std::string generateKeys(const fs::path& dir) {
    if (!ready()) return "the cryptography library could not start";
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return dir.string() + ": no such folder";
    const fs::path sk = dir / "operator.key", pk = dir / "operator.pub",
                   office = dir / "office.key";
    for (const auto& f : {sk, pk, office}) {
        if (fs::exists(fs::symlink_status(f, ec)))
            return f.string() + " exists; nothing was written";
    }
    std::vector<std::uint8_t> pub(crypto_sign_PUBLICKEYBYTES), sec(crypto_sign_SECRETKEYBYTES),
        shared(crypto_auth_hmacsha256_KEYBYTES);
    crypto_sign_keypair(pub.data(), sec.data());
    crypto_auth_hmacsha256_keygen(shared.data());
    const auto text = [](KeyKind k, const std::vector<std::uint8_t>& b) {
        return std::string(keyHeader(k)) + '\n' + base64(b) + '\n';
    };
    std::string error = writeNew(sk, text(KeyKind::OperatorSecret, sec), true);
    if (error.empty()) error = writeNew(pk, text(KeyKind::OperatorPublic, pub), false);
    if (error.empty()) error = writeNew(office, text(KeyKind::Office, shared), true);
    sodium_memzero(sec.data(), sec.size());
    sodium_memzero(shared.data(), shared.size());
    if (!error.empty()) {
        // Nothing half-done: the files this call made go again.
        for (const auto& f : {sk, pk, office}) fs::remove(f, ec);
    }
    return error;
}

// The record with its whole trailer; `prove` writes the proof of the covered bytes.
template <class Prove>
std::vector<std::uint8_t> withTrailer(std::span<const std::uint8_t> record, std::uint64_t nowMs,
                                      std::size_t proofBytes, Prove prove) {
    ready();
    std::vector<std::uint8_t> out = withHead(record, nowMs, proofBytes);
    const std::uint8_t* stamp = out.data() + record.size() + 4;
    const auto msg = covered(record, stamp, stamp + 8);
    out.resize(out.size() + proofBytes);
    prove(out.data() + out.size() - proofBytes, msg);
    return out;
}

std::vector<std::uint8_t> sign(std::span<const std::uint8_t> record, const Key& operatorSecret,
                               std::uint64_t nowMs) {
    return withTrailer(record, nowMs, kSignatureBytes, [&](std::uint8_t* proof, const auto& msg) {
        crypto_sign_detached(proof, nullptr, msg.data(), msg.size(), operatorSecret.bytes.data());
    });
}

namespace {

// An operator secret key as Ed25519 uses it: the clamped scalar a, then the 32-byte prefix
// that nonces are hashed with (both from SHA-512 of the seed).
struct Expanded {
    std::array<std::uint8_t, 64> az{};
    explicit Expanded(const Key& operatorSecret) {
        crypto_hash_sha512(az.data(), operatorSecret.bytes.data(), 32);
        az[0] &= 248;
        az[31] &= 127;
        az[31] |= 64;
    }
    ~Expanded() { sodium_memzero(az.data(), az.size()); }
    Expanded(const Expanded&) = delete;
    Expanded& operator=(const Expanded&) = delete;
    const std::uint8_t* scalar() const { return az.data(); }
    const std::uint8_t* prefix() const { return az.data() + 32; }
};

// SHA-512(prefix ‖ data) reduced mod L: with the message as data, Ed25519's own nonce.
std::array<std::uint8_t, 32> nonceFrom(const std::uint8_t* prefix,
                                       std::span<const std::uint8_t> data) {
    std::array<std::uint8_t, 64> wide{};
    crypto_hash_sha512_state st;
    crypto_hash_sha512_init(&st);
    crypto_hash_sha512_update(&st, prefix, 32);
    crypto_hash_sha512_update(&st, data.data(), data.size());
    crypto_hash_sha512_final(&st, wide.data());
    std::array<std::uint8_t, 32> r{};
    crypto_core_ed25519_scalar_reduce(r.data(), wide.data());
    sodium_memzero(wide.data(), wide.size());
    sodium_memzero(&st, sizeof st);
    return r;
}

// S = SHA-512(R ‖ A ‖ msg)·a + r mod L; the signature is R ‖ S.
void finishSignature(const std::uint8_t* scalar, const std::uint8_t* publicKey,
                     const std::uint8_t* r, const std::uint8_t* point,
                     std::span<const std::uint8_t> msg, std::uint8_t* out) {
    std::array<std::uint8_t, 64> wide{};
    crypto_hash_sha512_state st;
    crypto_hash_sha512_init(&st);
    crypto_hash_sha512_update(&st, point, 32);
    crypto_hash_sha512_update(&st, publicKey, 32);
    crypto_hash_sha512_update(&st, msg.data(), msg.size());
    crypto_hash_sha512_final(&st, wide.data());
    std::array<std::uint8_t, 32> h{}, ha{};
    crypto_core_ed25519_scalar_reduce(h.data(), wide.data());
    crypto_core_ed25519_scalar_mul(ha.data(), h.data(), scalar);
    std::copy(point, point + 32, out);
    crypto_core_ed25519_scalar_add(out + 32, ha.data(), r);
    sodium_memzero(ha.data(), ha.size());
}

}  // namespace

namespace detail {

std::array<std::uint8_t, kSignatureBytes> signWithNonce(const Key& operatorSecret,
                                                        std::span<const std::uint8_t> msg,
                                                        std::span<const std::uint8_t, 32> r) {
    ready();
    const Expanded k(operatorSecret);
    std::array<std::uint8_t, 32> point{};
    std::array<std::uint8_t, kSignatureBytes> sig{};
    if (crypto_scalarmult_ed25519_base_noclamp(point.data(), r.data()) != 0) return sig;
    finishSignature(k.scalar(), operatorSecret.bytes.data() + 32, r.data(), point.data(), msg,
                    sig.data());
    return sig;
}

std::array<std::uint8_t, 32> deterministicNonce(const Key& operatorSecret,
                                                std::span<const std::uint8_t> msg) {
    ready();
    const Expanded k(operatorSecret);
    return nonceFrom(k.prefix(), msg);
}

}  // namespace detail

struct Signer::Secret {
    Key key;
    Expanded expanded;
    explicit Secret(const Key& k) : key(k), expanded(k) {}
    ~Secret() { sodium_memzero(key.bytes.data(), key.bytes.size()); }
};

Signer::Signer(const Key& operatorSecret) {
    ready();
    secret_ = std::make_unique<Secret>(operatorSecret);
}

Signer::~Signer() {
    for (auto& p : points_) sodium_memzero(p.data(), p.size());
}

bool Signer::prepareOne(std::size_t limit) {
    if (prepared() >= limit) return false;
    std::array<std::uint8_t, 64> p{};
    // 32 fresh random bytes hashed with the secret prefix, reduced: uniform, secret and used
    // once; a point of zero (chance 2^-252) is simply drawn again.
    std::array<std::uint8_t, 32> seed{};
    do {
        randombytes_buf(seed.data(), seed.size());
        const auto r = nonceFrom(secret_->expanded.prefix(), seed);
        std::copy(r.begin(), r.end(), p.begin());
    } while (crypto_scalarmult_ed25519_base_noclamp(p.data() + 32, p.data()) != 0);
    sodium_memzero(seed.data(), seed.size());
    std::lock_guard lock(mutex_);
    if (points_.size() == points_.capacity()) {
        // Moved by hand, so that no copy of a secret nonce is left in freed memory.
        std::vector<std::array<std::uint8_t, 64>> larger;
        larger.reserve(std::max(points_.size() * 2, std::size_t{64}));
        larger.assign(points_.begin(), points_.end());
        for (auto& old : points_) sodium_memzero(old.data(), old.size());
        points_.swap(larger);
    }
    points_.push_back(p);
    sodium_memzero(p.data(), p.size());
    return true;
}

std::size_t Signer::prepared() const {
    std::lock_guard lock(mutex_);
    return points_.size();
}

std::vector<std::uint8_t> Signer::sign(std::span<const std::uint8_t> record, std::uint64_t nowMs) {
    return withTrailer(record, nowMs, kSignatureBytes, [&](std::uint8_t* proof, const auto& msg) {
        std::array<std::uint8_t, 64> p{};
        bool have = false;
        {
            std::lock_guard lock(mutex_);
            if (!points_.empty()) {
                // Taken out and wiped in its slot: a nonce signs one message, never two.
                p = points_.back();
                sodium_memzero(points_.back().data(), 64);
                points_.pop_back();
                have = true;
            }
        }
        const Key& key = secret_->key;
        if (have) {
            finishSignature(secret_->expanded.scalar(), key.bytes.data() + 32, p.data(),
                            p.data() + 32, msg, proof);
            sodium_memzero(p.data(), p.size());
        } else {
            crypto_sign_detached(proof, nullptr, msg.data(), msg.size(), key.bytes.data());
        }
    });
}

std::vector<std::uint8_t> mac(std::span<const std::uint8_t> record, const Key& office,
                              std::uint64_t nowMs) {
    return withTrailer(record, nowMs, kMacBytes, [&](std::uint8_t* proof, const auto& msg) {
        crypto_auth_hmacsha256(proof, msg.data(), msg.size(), office.bytes.data());
    });
}

ReplayGuard::ReplayGuard(std::chrono::seconds maxSkew, std::size_t capacity)
    // A skew of zero or less would wrap round to a window of centuries once unsigned: the
    // smallest window is one second.
    : maxSkew_(std::max(maxSkew, std::chrono::seconds(1))), capacity_(capacity) {}

ReplayGuard::Admission ReplayGuard::admit(std::span<const std::uint8_t, kNonceBytes> nonce,
                                          std::uint64_t stampMs, std::uint64_t nowMs) {
    const auto window = static_cast<std::uint64_t>(maxSkew_.count()) * 1000;
    // A nonce whose stamp is outside the window can be forgotten: the time check refuses its
    // packet again anyway.
    if (seen_.size() >= capacity_) {
        std::erase_if(seen_, [&](const auto& e) {
            return e.second + window < nowMs || e.second > nowMs + window;
        });
    }
    if (seen_.size() >= capacity_) return Admission::Full;
    return seen_.emplace(std::string(nonce.begin(), nonce.end()), stampMs).second
               ? Admission::Ok
               : Admission::Replayed;
}

Verdict verify(std::span<const std::uint8_t> packet, std::size_t recordSize, const Key& key,
               ReplayGuard& guard, std::uint64_t nowMs) {
    if (!ready()) return Verdict::BadProof;
    const bool signature = key.kind == KeyKind::OperatorPublic;
    const std::size_t proof = signature ? kSignatureBytes : kMacBytes;
    if (packet.size() < recordSize + kTrailerHead + proof ||
        !std::equal(kTrailerTag.begin(), kTrailerTag.end(),
                    packet.begin() + static_cast<long>(recordSize)))
        return Verdict::NoTrailer;
    const std::uint8_t* stamp = packet.data() + recordSize + 4;
    const std::uint8_t* nonce = stamp + 8;
    const std::uint8_t* given = nonce + kNonceBytes;
    const auto msg = covered(packet.first(recordSize), stamp, nonce);
    const bool good =
        signature
            ? crypto_sign_verify_detached(given, msg.data(), msg.size(), key.bytes.data()) == 0
            : key.bytes.size() == crypto_auth_hmacsha256_KEYBYTES &&
                  crypto_auth_hmacsha256_verify(given, msg.data(), msg.size(), key.bytes.data()) ==
                      0;
    if (!good) return Verdict::BadProof;
    const std::uint64_t at = getStamp(stamp);
    const auto window = static_cast<std::uint64_t>(guard.maxSkew().count()) * 1000;
    if (at + window < nowMs || at > nowMs + window) return Verdict::OutOfTime;
    switch (
        guard.admit(std::span<const std::uint8_t, kNonceBytes>(nonce, kNonceBytes), at, nowMs)) {
        case ReplayGuard::Admission::Ok:
            return Verdict::Ok;
        case ReplayGuard::Admission::Replayed:
            return Verdict::Replayed;
        case ReplayGuard::Admission::Full:
            break;
    }
    return Verdict::Full;
}

const char* verdictText(Verdict v) {
    switch (v) {
        case Verdict::Ok:
            return "ok";
        case Verdict::NoTrailer:
            return "no signature";
        case Verdict::BadProof:
            return "bad signature";
        case Verdict::OutOfTime:
            return "time stamp outside the allowed clock skew";
        case Verdict::Replayed:
            return "replayed";
        case Verdict::Full:
            return "too many packets to remember";
    }
    return "";
}

std::uint64_t nowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace tw::auth
