#include "cli/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "common/auth.h"
#include "common/text.h"
#include "tests/support/support.h"

using namespace tw;

namespace {

const std::string kUsage =
    "Usage: tellwick_cli [OPTION]...\nTry 'tellwick_cli --help' for more information.\n";

struct Sent {
    std::string host;
    int port;
    Transport mode;
    MessagePacket packet;
    std::vector<std::uint8_t> bytes;
};

struct Result {
    int code;
    std::string out;
    std::vector<Sent> sent;
};

Result runCli(const std::vector<std::string>& args) {
    Result r;
    std::ostringstream out;
    r.code = cli::run(
        args, out,
        [&](const std::string& host, int port, Transport mode, std::span<const std::uint8_t> b) {
            r.sent.push_back({host, port, mode, MessagePacket::parse(b), {b.begin(), b.end()}});
        },
        "OFFICE-PC");
    r.out = out.str();
    return r;
}

std::vector<std::string> hosts(const Result& r) {
    std::vector<std::string> h;
    for (const auto& s : r.sent) h.push_back(s.host);
    return h;
}

}  // namespace

// Every argument list that ends before sending: its exact output and exit code.
TEST(CliArguments, endingsBeforeSending) {
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out;
    };
    const std::string insufficient = "Insufficient number of parameters.\n\n" + kUsage;
    const std::string badAddress = "\nIncorrect address: check address parameter.\n";
    const Case cases[] = {
        {{}, 0, kUsage},
        {{""}, 0, kUsage},
        {{"-h"}, 0, cli::helpText() + "\n"},
        {{"-a", "10.0.0.1", "--help", "-x"}, 0, cli::helpText() + "\n"},
        {{"--version"}, 0, cli::versionText() + "\n"},
        {{"-x", "1"}, -1, "Unknown parameter: -x\n\n" + kUsage},
        {{"--bogus=1"}, -1, "Unknown parameter: --bogus\n\n" + kUsage},
        {{"-a", "10.0.0.1", "address"}, -1, "Unknown parameter: address\n\n" + kUsage},
        {{"-"}, -1, "Unknown parameter: -\n\n" + kUsage},
        {{"-m", "TCP"}, -1, "Unknown protocol: TCP\n\n" + kUsage},
        {{"--mode=http"}, -1, "Unknown protocol: http\n\n" + kUsage},
        {{"-l", "RU"}, -1, "Unknown language: RU\n\n" + kUsage},
        {{"--language=de"}, -1, "Unknown language: de\n\n" + kUsage},
        {{"-p", "65536"}, -1, "Incorrect port: 65536\n\n" + kUsage},
        {{"--port=-1"}, -1, "Incorrect port: -1\n\n" + kUsage},
        {{"-p", "99999999999999999999"}, -1, "Incorrect port: 99999999999999999999\n\n" + kUsage},
        {{"-a", "10.0.0.1"}, -1, insufficient},
        {{"-a", "10.0.0.1", "-t", "x", "--text=y"}, -1, insufficient},
        {{"-a", "10.0.0.5-10.0.0.1", "-t", "x"}, -1, badAddress},
        {{"-a", "10.0.0.1,", "-t", "x"}, -1, badAddress},
        {{"-a", "10.0.0.1,,pc2", "-t", "x"}, -1, badAddress},
        {{"-a", "pc1,bad name", "-t", "x"}, -1, badAddress},
        {{"-a", "10.0.0.1-pc", "-t", "x"}, -1, badAddress},
        {{"-t", "x", "-a"}, -1, badAddress},  // the last short option takes an empty value
        {{"-a", "1.0.0.1-1.254.254.254", "-t", "x"},
         -1,
         "\nToo many addresses: at most 1048576 can be sent at once.\n"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += "[" + a + "]";
        const auto r = runCli(c.args);
        EXPECT_EQ(r.code, c.code) << joined;
        EXPECT_EQ(r.out, c.out) << joined;
        EXPECT_TRUE(r.sent.empty()) << joined;
    }
}

TEST(CliArguments, optionsReachTheSends) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> hosts;
        int port;
        Transport mode;
        std::u16string language, text;
    };
    const Case cases[] = {
        {{"-a", "127.0.0.1", "-t", "\"test message|line 2\""},
         {"127.0.0.1"},
         47127,
         Transport::Udp,
         u"RU",
         u"test message\nline 2"},
        // Long options with hyphens and "=" in their values.
        {{"--address=10.0.0.1-10.0.0.3,test-pc", "--text=\"well-known 1+1=2\""},
         {"10.0.0.1", "10.0.0.2", "10.0.0.3", "test-pc"},
         47127,
         Transport::Udp,
         u"RU",
         u"well-known 1+1=2"},
        {{"-a", "pc1", "-t", "x", "-m", "tcp", "-l", "en", "-p", "48000"},
         {"pc1"},
         48000,
         Transport::Tcp,
         u"EN",
         u"x"},
        {{"--mode=udp", "--language=ru", "--port=0", "-a", "pc1", "-t", "x"},
         {"pc1"},
         47127,
         Transport::Udp,
         u"RU",
         u"x"},
        {{"-p", "abc", "-a", "pc1", "-t", "x", "-p", "65535"},
         {"pc1"},
         65535,
         Transport::Udp,
         u"RU",
         u"x"},
        {{"-p", "abc", "-a", "pc1", "-t", "x"}, {"pc1"}, 47127, Transport::Udp, u"RU", u"x"},
        // Two address options pass the count; the second list wins; the text stays empty.
        {{"-a", "pc1", "-a", "pc2"}, {"pc2"}, 47127, Transport::Udp, u"RU", u""},
        // Empty words after the first are skipped; nothing after them is lost.
        {{"-a", "pc1", "", "-t", "\"\"x|y\"\"", ""},
         {"pc1"},
         47127,
         Transport::Udp,
         u"RU",
         u"x\ny"},
        {{"-a", "10.0.0.9-10.0.0.09,10.0.0.9", "-t", "x"},
         {"10.0.0.09", "10.0.0.9"},
         47127,
         Transport::Udp,
         u"RU",
         u"x"},
        {{"-t", "Привет", "-a", "localhost"},
         {"localhost"},
         47127,
         Transport::Udp,
         u"RU",
         u"Привет"},
    };
    for (const auto& c : cases) {
        const auto r = runCli(c.args);
        EXPECT_EQ(r.code, 0) << c.args[1];
        EXPECT_EQ(hosts(r), c.hosts) << c.args[1];
        for (const auto& s : r.sent) {
            EXPECT_EQ(s.bytes.size(), kMessagePacketSize) << "no key: the bare record";
            EXPECT_EQ(s.port, c.port);
            EXPECT_EQ(s.mode, c.mode);
            EXPECT_EQ(s.packet.language, c.language);
            EXPECT_EQ(s.packet.msgText, c.text);
            EXPECT_EQ(s.packet.serverName, u"OFFICE-PC");
            EXPECT_EQ(s.packet.systemMessage, 0);
            EXPECT_FALSE(s.packet.msgRootId.empty());
            EXPECT_EQ(s.packet.msgGuid, s.packet.msgRootId);
        }
    }
}

TEST(CliArguments, longTextIsCutToTheField) {
    const auto r = runCli({"-a", "pc1", "-t", std::string(700, 'x')});
    ASSERT_EQ(r.sent.size(), 1u);
    EXPECT_EQ(r.sent[0].packet.msgText, std::u16string(500, u'x'));
}

TEST(CliProgress, printsAboutEveryTenthNeverHundred) {
    const auto r = runCli({"-a", "10.0.0.1-10.0.0.10", "-t", "x"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.sent.size(), 10u);
    EXPECT_EQ(r.out,
              "Sending... 0%\nSending... 18%\nSending... 36%\nSending... 55%\n"
              "Sending... 73%\nSending... 91%\nSending finished.\n");

    struct Case {
        std::size_t n;
        std::vector<int> percents;
    };
    const Case cases[] = {
        {1, {50}},
        {2, {33, 67}},
        {9, {10, 20, 30, 40, 50, 60, 70, 80, 90}},
        {20, {14, 29, 43, 57, 71, 86}},  // T 21, step 3
    };
    for (const auto& c : cases) {
        std::vector<int> got;
        for (std::size_t i = 1; i <= c.n; ++i)
            if (auto p = cli::progressPercent(i, c.n)) got.push_back(*p);
        EXPECT_EQ(got, c.percents) << c.n;
    }
}

TEST(CliAddressList, expansionKeepsOrderAndDuplicatesAndRespectsTheLimit) {
    std::vector<std::string> out;
    EXPECT_EQ(cli::expandAddressList("pc1,10.0.0.254-10.0.1.1,pc1", out), cli::ListResult::Ok);
    EXPECT_EQ(out, (std::vector<std::string>{"pc1", "10.0.0.254", "10.0.1.1", "pc1"}));

    out.clear();
    EXPECT_EQ(cli::expandAddressList("10.0.0.1-10.0.0.3,pc1", out, 4), cli::ListResult::Ok);
    EXPECT_EQ(cli::expandAddressList("10.0.0.1-10.0.0.3,pc1,pc2", out, 4),
              cli::ListResult::TooMany);
    EXPECT_EQ(cli::expandAddressList("pc1,10.0.0.1-10.0.0.4", out, 4), cli::ListResult::TooMany);
    EXPECT_EQ(out.size(), 4u);  // a refused list leaves nothing of its own behind
    // A bad item anywhere is found before any range is produced, however wide.
    out.assign({"kept"});
    EXPECT_EQ(cli::expandAddressList("10.0.0.1-10.16.254.254,pc1,~bad", out),
              cli::ListResult::BadAddress);
    EXPECT_EQ(out, std::vector<std::string>{"kept"});
}

namespace {

// A folder with a fresh set of keys made by the program itself.
struct KeyFolder {
    test::TempDir dir;
    KeyFolder() {
        const auto r = runCli({"--generate-keys=" + dir.path().string()});
        EXPECT_EQ(r.code, 0) << r.out;
    }
    std::string path(const char* name) const { return (dir / name).string(); }
};

namespace fs = std::filesystem;

}  // namespace

TEST(CliKeys, generateKeysWritesThreeFilesOnceAndSendsNothing) {
    KeyFolder keys;
    const auto mode = [&](const char* name) {
        return fs::status(keys.dir / name).permissions() & fs::perms::all;
    };
    EXPECT_EQ(mode("operator.key"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(mode("office.key"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(fs::is_regular_file(keys.dir / "operator.pub"));
    const std::string before = test::readFile(keys.dir / "operator.key");

    // Never over existing keys: the message names the file, the keys stay as they were.
    const auto again =
        runCli({"-a", "pc1", "-t", "x", "--generate-keys=" + keys.dir.path().string()});
    EXPECT_EQ(again.code, -1);
    EXPECT_NE(again.out.find("operator.key exists"), std::string::npos) << again.out;
    EXPECT_TRUE(again.sent.empty());
    EXPECT_EQ(test::readFile(keys.dir / "operator.key"), before);

    const auto nowhere = runCli({"--generate-keys=" + (keys.dir / "no-such").string()});
    EXPECT_EQ(nowhere.code, -1);
    EXPECT_NE(nowhere.out.find("no such folder"), std::string::npos) << nowhere.out;
}

TEST(CliKeys, signedPacketsVerifyEachWithItsOwnNonce) {
    KeyFolder keys;
    const auto pub = auth::readKeyFile(keys.dir / "operator.pub", auth::KeyKind::OperatorPublic);
    ASSERT_TRUE(pub.key) << pub.error;
    for (const char* option : {"-k", "--key-file="}) {
        std::vector<std::string> args{"-a", "pc1,pc1,10.0.0.1-10.0.0.3", "-t", "signed|text"};
        if (std::string(option) == "-k") {
            args.insert(args.end(), {"-k", keys.path("operator.key")});
        } else {
            args.push_back(option + keys.path("operator.key"));
        }
        const auto r = runCli(args);
        ASSERT_EQ(r.code, 0) << r.out;
        ASSERT_EQ(r.sent.size(), 5u);
        auth::ReplayGuard guard;  // one receiver for all: a repeated nonce would be refused
        for (const auto& s : r.sent) {
            EXPECT_EQ(s.bytes.size(),
                      kMessagePacketSize + auth::kTrailerHead + auth::kSignatureBytes);
            EXPECT_EQ(auth::verify(s.bytes, kMessagePacketSize, *pub.key, guard, auth::nowMs()),
                      auth::Verdict::Ok)
                << s.host;
            EXPECT_EQ(s.packet.msgText, u"signed\ntext");
        }
    }
}

TEST(CliKeys, unusableKeyFileEndsTheRunBeforeAnythingIsSent) {
    KeyFolder keys;
    test::writeFile(keys.dir / "garbage.key", "TELLWICK OPERATOR SECRET KEY\nnot base64!\n");
    fs::permissions(keys.dir / "garbage.key", fs::perms::owner_read | fs::perms::owner_write);
    fs::copy_file(keys.dir / "operator.key", keys.dir / "open.key");
    fs::permissions(keys.dir / "open.key", fs::perms::owner_read | fs::perms::owner_write |
                                               fs::perms::group_read | fs::perms::others_read);
    const struct {
        std::string file;
        std::string fault;
    } cases[] = {
        {keys.path("missing.key"), "the key file is missing"},
        {keys.path("garbage.key"), "the key is malformed"},
        {keys.path("operator.pub"), "a key of the wrong kind"},
        {keys.path("office.key"), "a key of the wrong kind"},
        {keys.path("open.key"), "readable by others"},
        {keys.dir.path().string(), "not a regular file"},
        {"", "the key file is missing"},  // -k with nothing after it is no way back to unsigned
    };
    for (const auto& c : cases) {
        const auto r = runCli({"-a", "pc1", "-t", "x", "-k", c.file});
        EXPECT_EQ(r.code, -1) << c.file;
        EXPECT_EQ(r.out.rfind("Cannot use the key file: " + c.file + ": ", 0), 0u) << r.out;
        EXPECT_NE(r.out.find(c.fault), std::string::npos) << r.out;
        EXPECT_TRUE(r.sent.empty()) << c.file;
    }
}
