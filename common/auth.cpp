#include "common/auth.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace tw::auth {

namespace {

namespace fs = std::filesystem;

bool ready() {
    // Thread-safe and idempotent; a static keeps it to one call.
    static const bool ok = sodium_init() >= 0;
    return ok;
}

const char* header(KeyKind kind) {
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

}  // namespace

KeyResult readKeyFile(const fs::path& file, KeyKind expected) {
    KeyResult r;
    const std::string name = file.string();
    if (!ready()) {
        r.error = name + ": the cryptography library could not start";
        return r;
    }
    std::error_code ec;
    const auto st = fs::status(file, ec);
    if (ec || !fs::exists(st)) {
        r.error = name + ": the key file is missing";
        return r;
    }
    if (!fs::is_regular_file(st)) {
        r.error = name + ": not a regular file";
        return r;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        r.error = name + ": the key file cannot be read";
        return r;
    }
    std::string first, second, rest;
    std::getline(in, first);
    std::getline(in, second);
    std::getline(in, rest);
    first = trim(first);
    second = trim(second);
    if (first != header(expected)) {
        for (const KeyKind other :
             {KeyKind::OperatorSecret, KeyKind::OperatorPublic, KeyKind::Office}) {
            if (first == header(other)) {
                r.error = name + ": a key of the wrong kind (" + header(other) + ", not " +
                          header(expected) + ")";
                return r;
            }
        }
        r.error = name + ": not a Tellwick key file";
        return r;
    }
    // What kind of file it is comes first, so a public key named as a secret one is called
    // by its name, not by its mode.
    if (secret(expected)) {
        const auto open = fs::perms::group_all | fs::perms::others_all;
        if ((st.permissions() & open) != fs::perms::none) {
            r.error = name + ": the secret key is readable by others (chmod 600 it)";
            return r;
        }
    }
    std::vector<std::uint8_t> bytes(keyBytes(expected) + 1);
    std::size_t got = 0;
    if (sodium_base642bin(bytes.data(), bytes.size(), second.data(), second.size(), nullptr, &got,
                          nullptr, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        got != keyBytes(expected) || !trim(rest).empty()) {
        r.error = name + ": the key is malformed";
        return r;
    }
    bytes.resize(got);
    r.key = Key{expected, std::move(bytes)};
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
        return std::string(header(k)) + '\n' + base64(b) + '\n';
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
