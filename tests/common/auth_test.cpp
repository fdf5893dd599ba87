#include "common/auth.h"

#include <gtest/gtest.h>

#include <filesystem>

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
    fs::copy_file(dir.path() / "office.key", dir.path() / "open.key");
    fs::permissions(dir.path() / "open.key", fs::perms::others_read, fs::perm_options::add);
    const std::vector<Case> cases = {
        {"operator.pub", auth::KeyKind::OperatorPublic, ""},
        {"operator.key", auth::KeyKind::OperatorSecret, ""},
        {"office.key", auth::KeyKind::Office, ""},
        {"missing.pub", auth::KeyKind::OperatorPublic, "missing"},
        {"bad.pub", auth::KeyKind::OperatorPublic, "malformed"},
        {"short.pub", auth::KeyKind::OperatorPublic, "malformed"},
        {"other.txt", auth::KeyKind::Office, "not a Tellwick key file"},
        {"operator.pub", auth::KeyKind::Office, "wrong kind"},
        {"office.key", auth::KeyKind::OperatorSecret, "wrong kind"},
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
