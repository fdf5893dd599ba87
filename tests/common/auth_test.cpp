#include "common/auth.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <filesystem>
#include <atomic>
#include <set>
#include <thread>

#include "tests/support/support.h"

using namespace tw;
namespace fs = std::filesystem;

namespace {

struct Keys {
    auth::Key secret, pub, office;
};

Keys makeKeys(const fs::path& dir) {
    EXPECT_EQ(auth::generateKeys(dir), "");
    Keys k;
    k.secret = *auth::readKeyFile(dir / "operator.key", auth::KeyKind::OperatorSecret).key;
    k.pub = *auth::readKeyFile(dir / "operator.pub", auth::KeyKind::OperatorPublic).key;
    k.office = *auth::readKeyFile(dir / "office.key", auth::KeyKind::Office).key;
    return k;
}

const std::vector<std::uint8_t> kRecord(1297, 0x41);
constexpr std::uint64_t kNow = 1'800'000'000'000;

}  // namespace

// Every way a packet can be wrong, for signatures (messages) and MACs (reports) alike.
TEST(Auth, signedAndMacedPacketsPassOnlyWhenWholeFreshAndNew) {
    test::TempDir dir;
    const Keys k = makeKeys(dir.path());
    test::TempDir other;
    const Keys stranger = makeKeys(other.path());

    struct Case {
        const char* what;
        std::vector<std::uint8_t> packet;
        const auth::Key* key;
        auth::Verdict verdict;
    };
    const auto sig = auth::sign(kRecord, k.secret, kNow);
    const auto tag = auth::mac(kRecord, k.office, kNow);
    auto flipped = sig;
    flipped[100] ^= 1;  // one byte of the text
    auto flippedStamp = tag;
    flippedStamp[kRecord.size() + 11] ^= 1;
    const std::vector<Case> cases = {
        {"signed", sig, &k.pub, auth::Verdict::Ok},
        {"maced", tag, &k.office, auth::Verdict::Ok},
        {"unsigned", kRecord, &k.pub, auth::Verdict::NoTrailer},
        {"cut trailer", {sig.begin(), sig.end() - 1}, &k.pub, auth::Verdict::NoTrailer},
        {"text changed", flipped, &k.pub, auth::Verdict::BadProof},
        {"stamp changed", flippedStamp, &k.office, auth::Verdict::BadProof},
        {"another operator", auth::sign(kRecord, stranger.secret, kNow), &k.pub,
         auth::Verdict::BadProof},
        {"another office", auth::mac(kRecord, stranger.office, kNow), &k.office,
         auth::Verdict::BadProof},
        {"20 minutes old", auth::sign(kRecord, k.secret, kNow - 20 * 60 * 1000), &k.pub,
         auth::Verdict::OutOfTime},
        {"from the future", auth::mac(kRecord, k.office, kNow + 11 * 60 * 1000), &k.office,
         auth::Verdict::OutOfTime},
        {"9 minutes old", auth::sign(kRecord, k.secret, kNow - 9 * 60 * 1000), &k.pub,
         auth::Verdict::Ok},
    };
    auth::ReplayGuard guard;
    for (const auto& c : cases)
        EXPECT_EQ(auth::verify(c.packet, kRecord.size(), *c.key, guard, kNow), c.verdict) << c.what;
    EXPECT_EQ(auth::verify(sig, kRecord.size(), k.pub, guard, kNow + 1000),
              auth::Verdict::Replayed);
    EXPECT_EQ(auth::verify(tag, kRecord.size(), k.office, guard, kNow), auth::Verdict::Replayed);
    // A receiver that knows no key reads the record as it always did: it stands first, whole.
    EXPECT_TRUE(std::equal(kRecord.begin(), kRecord.end(), sig.begin()));
}

// The covered bytes of a signed packet: the record, then the trailer without its tag.
std::vector<std::uint8_t> coveredOf(const std::vector<std::uint8_t>& packet) {
    std::vector<std::uint8_t> msg(packet.begin(), packet.begin() + 1297 + auth::kTrailerHead);
    msg.erase(msg.begin() + 1297, msg.begin() + 1297 + 4);
    return msg;
}

std::vector<std::uint8_t> signatureOf(const std::vector<std::uint8_t>& packet) {
    return {packet.end() - auth::kSignatureBytes, packet.end()};
}

// The signing path with nonces made ahead of time computes what libsodium's signing
// computes: given Ed25519's own nonce for a message, it makes the very signature libsodium
// made for it.
TEST(Auth, signatureFromAGivenNonceIsLibsodiumsOwn) {
    test::TempDir dir;
    const Keys k = makeKeys(dir.path());
    for (std::uint8_t fill : {0x00, 0x41, 0xFF}) {
        const std::vector<std::uint8_t> record(1297, fill);
        const auto packet = auth::sign(record, k.secret, kNow + fill);
        const auto msg = coveredOf(packet);
        const auto r = auth::detail::deterministicNonce(k.secret, msg);
        const auto sig = auth::detail::signWithNonce(k.secret, msg, r);
        EXPECT_EQ(std::vector<std::uint8_t>(sig.begin(), sig.end()), signatureOf(packet))
            << int(fill);
    }
}

// Prepared nonce points: each signs exactly one packet, every signature passes, and without
// them (none made, or all used) the signer still signs.
TEST(Auth, signerUsesEachPreparedNonceOnceAndSignsWithoutThem) {
    test::TempDir dir;
    const Keys k = makeKeys(dir.path());
    auth::Signer signer(k.secret);
    auth::ReplayGuard guard;
    EXPECT_EQ(auth::verify(signer.sign(kRecord, kNow), kRecord.size(), k.pub, guard, kNow),
              auth::Verdict::Ok)
        << "no point prepared";

    int made = 0;
    while (signer.prepareOne(50)) ++made;
    EXPECT_EQ(made, 50);
    EXPECT_EQ(signer.prepared(), 50u);
    EXPECT_FALSE(signer.prepareOne(50)) << "the limit holds";

    std::set<std::vector<std::uint8_t>> points;
    for (int i = 0; i < 60; ++i) {  // 50 from the points, 10 after they ran out
        const auto packet = signer.sign(kRecord, kNow);
        ASSERT_EQ(auth::verify(packet, kRecord.size(), k.pub, guard, kNow), auth::Verdict::Ok)
            << i;
        const auto sig = signatureOf(packet);
        points.insert({sig.begin(), sig.begin() + 32});
        EXPECT_EQ(signer.prepared(), i < 50 ? 49u - static_cast<unsigned>(i) : 0u);
    }
    EXPECT_EQ(points.size(), 60u) << "no nonce point used twice";
}

// Several passes' threads sign while the reserve is topped up beside them.
TEST(Auth, signerIsSharedSafelyBetweenThreads) {
    test::TempDir dir;
    const Keys k = makeKeys(dir.path());
    auth::Signer signer(k.secret);
    std::atomic<bool> done{false};
    std::thread filler([&] {
        while (!done) signer.prepareOne(64);
    });
    std::vector<std::vector<std::uint8_t>> packets[3];
    std::vector<std::thread> signers;
    for (auto& out : packets)
        signers.emplace_back([&] {
            for (int i = 0; i < 200; ++i) out.push_back(signer.sign(kRecord, kNow));
        });
    for (auto& t : signers) t.join();
    done = true;
    filler.join();
    auth::ReplayGuard guard;
    for (const auto& out : packets)
        for (const auto& p : out)
            EXPECT_EQ(auth::verify(p, kRecord.size(), k.pub, guard, kNow), auth::Verdict::Ok);
}

TEST(Auth, replayMemoryIsBoundedAndForgetsWhatTheClockRefusesAnyway) {
    test::TempDir dir;
    const Keys k = makeKeys(dir.path());
    auth::ReplayGuard guard(std::chrono::seconds(600), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(
            auth::verify(auth::sign(kRecord, k.secret, kNow), kRecord.size(), k.pub, guard, kNow),
            auth::Verdict::Ok);
    EXPECT_EQ(auth::verify(auth::sign(kRecord, k.secret, kNow), kRecord.size(), k.pub, guard, kNow),
              auth::Verdict::Full)
        << "full: refused, not let through";
    const std::uint64_t later = kNow + 11 * 60 * 1000;  // the three have aged out
    EXPECT_EQ(
        auth::verify(auth::sign(kRecord, k.secret, later), kRecord.size(), k.pub, guard, later),
        auth::Verdict::Ok);
}

TEST(Auth, keyFilesAreCheckedAndNeverOverwritten) {
    test::TempDir dir;
    ASSERT_EQ(auth::generateKeys(dir.path()), "");
    const auto perms = [&](const char* f) {
        return fs::status(dir.path() / f).permissions() & fs::perms::all;
    };
    EXPECT_EQ(perms("operator.key"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(perms("office.key"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_NE(perms("operator.pub") & fs::perms::others_read, fs::perms::none);
    const std::string before = test::readFile(dir.path() / "operator.key");
    EXPECT_NE(auth::generateKeys(dir.path()).find("exists"), std::string::npos);
    EXPECT_EQ(test::readFile(dir.path() / "operator.key"), before) << "not overwritten";

    struct Case {
        const char* file;
        auth::KeyKind kind;
        const char* error;  // a part of the message; empty: the key is read
    };
    test::writeFile(dir.path() / "bad.pub", "TELLWICK OPERATOR PUBLIC KEY\nnot base64!\n");
    test::writeFile(dir.path() / "short.pub", "TELLWICK OPERATOR PUBLIC KEY\nAAAA\n");
    test::writeFile(dir.path() / "other.txt", "hello\n");
    const std::string pubText = test::readFile(dir.path() / "operator.pub");
    test::writeFile(dir.path() / "more.pub", pubText + "and something else\n");
    test::writeFile(dir.path() / "huge.pub", pubText + std::string(5000, '\n'));
    test::writeFile(dir.path() / "crlf.pub", [&] {
        std::string t = pubText;
        for (auto at = t.find('\n'); at != std::string::npos; at = t.find('\n', at + 2))
            t.insert(at, "\r");
        return t;
    }());
    // A secret key whose public half is another key's: its signatures would pass nowhere.
    {
        test::TempDir otherDir;
        ASSERT_EQ(auth::generateKeys(otherDir.path()), "");
        const auto mine =
            auth::readKeyFile(dir.path() / "operator.key", auth::KeyKind::OperatorSecret).key;
        const auto theirs =
            auth::readKeyFile(otherDir.path() / "operator.pub", auth::KeyKind::OperatorPublic).key;
        QByteArray bytes(reinterpret_cast<const char*>(mine->bytes.data()), 32);
        bytes.append(reinterpret_cast<const char*>(theirs->bytes.data()), 32);
        test::writeFile(dir.path() / "mixed.key",
                        "TELLWICK OPERATOR SECRET KEY\n" + bytes.toBase64().toStdString() + "\n");
        fs::permissions(dir.path() / "mixed.key", fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::replace);
    }
    fs::copy_file(dir.path() / "office.key", dir.path() / "open.key");
    fs::permissions(dir.path() / "open.key", fs::perms::others_read, fs::perm_options::add);
    const std::vector<Case> cases = {
        {"operator.pub", auth::KeyKind::OperatorPublic, ""},
        {"operator.key", auth::KeyKind::OperatorSecret, ""},
        {"crlf.pub", auth::KeyKind::OperatorPublic, ""},
        {"more.pub", auth::KeyKind::OperatorPublic, "malformed"},
        {"huge.pub", auth::KeyKind::OperatorPublic, "malformed"},
        {"office.key", auth::KeyKind::Office, ""},
        {"missing.pub", auth::KeyKind::OperatorPublic, "missing"},
        {"bad.pub", auth::KeyKind::OperatorPublic, "malformed"},
        {"short.pub", auth::KeyKind::OperatorPublic, "malformed"},
        {"other.txt", auth::KeyKind::Office, "not a Tellwick key file"},
        {"operator.pub", auth::KeyKind::Office, "wrong kind"},
        {"office.key", auth::KeyKind::OperatorSecret, "wrong kind"},
        {"mixed.key", auth::KeyKind::OperatorSecret, "malformed"},
        {"open.key", auth::KeyKind::Office, "readable by others"},
    };
    for (const auto& c : cases) {
        const auto r = auth::readKeyFile(dir.path() / c.file, c.kind);
        if (*c.error == '\0') {
            EXPECT_TRUE(r.key.has_value()) << c.file << ": " << r.error;
        } else {
            EXPECT_FALSE(r.key.has_value()) << c.file;
            EXPECT_NE(r.error.find(c.error), std::string::npos) << c.file << ": " << r.error;
            EXPECT_NE(r.error.find(c.file), std::string::npos) << "names the file: " << r.error;
        }
    }
}
