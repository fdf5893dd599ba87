// The real tellwick_client with keys and an allow list: what it takes, what it refuses and
// says so, and what it signs.
#include <gtest/gtest.h>

#include <csignal>

#include "common/auth.h"
#include "common/text.h"
#include "tests/client/client_harness.h"

using namespace tw;
using namespace tw::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A set of keys as `tellwick_cli --generate-keys` makes them, read back for the test's use.
struct Keys {
    explicit Keys(const fs::path& folder) : dir(folder) {
        fs::create_directories(dir);
        const std::string e = auth::generateKeys(dir);
        if (!e.empty()) throw std::runtime_error(e);
        secret = *auth::readKeyFile(dir / "operator.key", auth::KeyKind::OperatorSecret).key;
        office = *auth::readKeyFile(dir / "office.key", auth::KeyKind::Office).key;
    }
    fs::path dir;
    auth::Key secret, office;
};

std::vector<std::uint8_t> plain(const MessagePacket& p) {
    const auto b = p.serialize();
    return {b.begin(), b.end()};
}

std::vector<std::uint8_t> signedBy(const Keys& k, const MessagePacket& p,
                                   std::uint64_t stamp = auth::nowMs()) {
    return auth::sign(plain(p), k.secret, stamp);
}

std::string keyedConfig(const ClientHarness& h, const Keys& k,
                        const std::string& extraNetwork = "") {
    return "[Common]\nLog.UseEventLogger = 1\n\n[Network]\nNet.PortListen = " +
           std::to_string(h.listenPort) + "\nNet.PortSender = " + std::to_string(h.peer.port()) +
           "\n" + extraNetwork +
           "\n[Security]\nSec.OperatorKey = " + (k.dir / "operator.pub").string() +
           "\nSec.OfficeKey = " + (k.dir / "office.key").string() + "\n";
}

std::vector<std::string> linesWith(const std::vector<std::string>& lines, const std::string& part) {
    std::vector<std::string> out;
    for (const auto& l : lines)
        if (l.find(part) != std::string::npos) out.push_back(l);
    return out;
}

std::string rejected(const std::string& peer, const std::string& reason) {
    return "REJECTED: ServerIP = " + peer + ", Reason = " + reason;
}

}  // namespace

TEST(ClientTrust, keyedClientShowsASignedMessageAndMacsEveryReport) {
    ClientHarness h;
    Keys keys(h.tmp / "keys");
    h.writeConfig(keyedConfig(h, keys));
    auto client = h.start({"--debug"}, {{"TELLWICK_TEST_CONFIRM_AFTER_MS", "100"}});
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();

    h.sendBytes(signedBy(keys, makePacket(1, u"600", u"signed text")), Transport::Tcp);
    ASSERT_TRUE(h.peer.waitForCount(2));
    h.sendBytes(signedBy(keys, makePacket(5, u"601")), Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(3));

    auth::ReplayGuard guard;
    const ReportKind expected[] = {ReportKind::Delivered, ReportKind::Confirmed,
                                   ReportKind::Active};
    const auto got = h.peer.received();
    ASSERT_EQ(got.size(), 3u);
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].data.size(), kReportPacketSize + auth::kTrailerHead + auth::kMacBytes);
        EXPECT_EQ(auth::verify(got[i].data, kReportPacketSize, keys.office, guard, auth::nowMs()),
                  auth::Verdict::Ok);
        EXPECT_EQ(ReportPacket::parse(got[i].data).kind, expected[i]);
    }
    ASSERT_TRUE(waitFor([&] { return h.eventIds().size() == 3; }));
    EXPECT_EQ(h.eventIds(), (std::vector<int>{100, 101, 102}));
    EXPECT_EQ(h.events()[1].strings[2], "signed text");
    EXPECT_TRUE(linesWith(h.debugLines(), "REJECTED").empty());
}

TEST(ClientTrust, keyedClientRejectsWhatTheOperatorDidNotSignJustNowAndOnce) {
    ClientHarness h;
    Keys keys(h.tmp / "keys"), other(h.tmp / "other");
    h.writeConfig(keyedConfig(h, keys));
    auto client = h.start({"--debug"}, {{"TELLWICK_TEST_CONFIRM_AFTER_MS", "0"}});
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();

    const auto good = signedBy(keys, makePacket(1, u"610", u"the real one"));
    h.sendBytes(good, Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(2));  // delivered and confirmed

    auto changed = signedBy(keys, makePacket(1, u"611", u"pay the bill"));
    changed[kOffMsgText] ^= 0x01;  // "qay the bill"
    auto cut = signedBy(keys, makePacket(1, u"612", u"cut short"));
    cut.pop_back();
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        Transport transport;
        const char* reason;
    } cases[] = {
        {"unsigned", plain(makePacket(1, u"613", u"no trailer")), Transport::Udp, "no signature"},
        {"unsigned probe", plain(makePacket(5, u"614")), Transport::Tcp, "no signature"},
        {"wrong key", signedBy(other, makePacket(1, u"615", u"x")), Transport::Tcp,
         "bad signature"},
        {"one byte of text changed", changed, Transport::Udp, "bad signature"},
        {"trailer cut short", cut, Transport::Tcp, "no signature"},
        {"replayed", good, Transport::Tcp, "replayed"},
        {"20 minutes old",
         signedBy(keys, makePacket(1, u"616", u"old"), auth::nowMs() - 20 * 60 * 1000),
         Transport::Udp, "time stamp outside the allowed clock skew"},
        {"20 minutes ahead", signedBy(keys, makePacket(5, u"617"), auth::nowMs() + 20 * 60 * 1000),
         Transport::Udp, "time stamp outside the allowed clock skew"},
    };
    std::size_t n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        h.sendBytes(c.bytes, c.transport);
        ASSERT_TRUE(
            waitFor([&] { return linesWith(h.debugLines(), "REJECTED: ").size() == n + 1; }));
        EXPECT_EQ(linesWith(h.debugLines(), "REJECTED: ").back(), rejected("127.0.0.1", c.reason));
        ++n;
    }
    // A signed probe behind them is answered: nothing before it was.
    h.sendBytes(signedBy(keys, makePacket(5, u"618")), Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(3));
    EXPECT_EQ(ReportPacket::parse(h.peer.received()[2].data).msgRootId, u"618");
    EXPECT_EQ(h.peer.count(), 3u);
    EXPECT_EQ(linesWith(h.debugLines(), "INCOMING_PACKET FROM SERVER: ").size(), 2u);
    // One record of the refusals within the minute: the first at once, the others wait.
    ASSERT_TRUE(waitFor([&] { return h.eventIds().size() == 4; }));
    EXPECT_EQ(h.eventIds(), (std::vector<int>{100, 101, 102, 105}));
    EXPECT_EQ(h.events()[3].strings, (std::vector<std::string>{"1", "127.0.0.1", "no signature"}));
    client->signal(SIGTERM);
    EXPECT_EQ(client->wait(), 0);
}

TEST(ClientTrust, refusalsAfterTheFirstAreToldTogetherOnceTheMinuteIsOver) {
    ClientHarness h;
    Keys keys(h.tmp / "keys");
    h.writeConfig(keyedConfig(h, keys));
    // The test hook shortens the client's minute; the window stays shut (no text is sent).
    auto client = h.start({"--debug"}, {{"TELLWICK_TEST_MINUTE_MS", "3000"}});
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();
    h.sendBytes(plain(makePacket(5, u"1")), Transport::Udp);
    ASSERT_TRUE(waitFor([&] { return h.eventIds().size() == 2; }));
    for (int i = 0; i < 3; ++i) h.sendBytes(plain(makePacket(5, u"2")), Transport::Udp);
    ASSERT_TRUE(waitFor([&] { return linesWith(h.debugLines(), "REJECTED: ").size() == 4; }));
    // Every refusal is counted once; the first is told at once, the others only when the
    // (shortened) minute is over, however the machine's timing splits them.
    const auto told = [&] {
        std::vector<int> counts;
        for (const auto& e : h.events())
            if (e.id == 105) counts.push_back(std::stoi(e.strings.at(0)));
        return counts;
    };
    ASSERT_TRUE(waitFor([&] {
        int sum = 0;
        for (int c : told()) sum += c;
        return sum == 4;
    }));
    const auto counts = told();
    EXPECT_EQ(counts.front(), 1);
    EXPECT_GE(counts.size(), 2u);
    EXPECT_EQ(h.events().back().strings[1], "127.0.0.1");
}

TEST(ClientTrust, unkeyedClientShowsASignedMessageAndReportsAsBefore) {
    ClientHarness h;
    Keys keys(h.tmp / "keys");
    auto client = h.start({"--debug"}, {{"TELLWICK_TEST_CONFIRM_AFTER_MS", "0"}});
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();
    h.sendBytes(signedBy(keys, makePacket(1, u"620", u"over udp")), Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(2));
    h.sendBytes(signedBy(keys, makePacket(1, u"621", u"over tcp")), Transport::Tcp);
    ASSERT_TRUE(h.peer.waitForCount(4));
    for (const auto& r : h.peer.received()) EXPECT_EQ(r.data.size(), kReportPacketSize);
    ASSERT_TRUE(waitFor([&] { return h.eventIds().size() == 5; }));
    EXPECT_EQ(h.events()[3].strings[2], "over tcp");
}

TEST(ClientTrust, packetsFromOutsideTheAllowListAreDroppedBeforeAnythingElse) {
    ClientHarness h;
    Keys keys(h.tmp / "keys");
    h.writeConfig(keyedConfig(h, keys, "Net.AllowFrom = 127.0.0.0/31, 10.1.2.3\n"));
    auto client = h.start();
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();

    const auto probe = signedBy(keys, makePacket(5, u"630"));
    h.sendBytesFrom("127.0.0.2", probe, Transport::Udp);
    h.sendBytesFrom("127.0.0.2", signedBy(keys, makePacket(5, u"631")), Transport::Tcp);
    ASSERT_TRUE(waitFor([&] { return linesWith(h.debugLines(), "REJECTED: ").size() == 2; }));
    for (const auto& l : linesWith(h.debugLines(), "REJECTED: "))
        EXPECT_EQ(l, rejected("127.0.0.2", "not allowed"));
    // Refused before its signature was looked at, the probe's nonce is still unused: the same
    // bytes from an allowed address are taken.
    h.sendBytesFrom("127.0.0.1", probe, Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(1));
    EXPECT_EQ(ReportPacket::parse(h.peer.received()[0].data).msgRootId, u"630");
    EXPECT_EQ(h.peer.count(), 1u);
    EXPECT_EQ(linesWith(h.debugLines(), "REJECTED: ").size(), 2u);
}

TEST(ClientTrust, allowListWorksWithoutKeysToo) {
    ClientHarness h;
    h.writeConfig("[Network]\nNet.PortListen = " + std::to_string(h.listenPort) +
                  "\nNet.PortSender = " + std::to_string(h.peer.port()) +
                  "\nNet.AllowFrom = 127.0.0.1\n");
    auto client = h.start();
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();
    h.sendBytesFrom("127.0.0.2", plain(makePacket(5, u"640")), Transport::Udp);
    ASSERT_TRUE(waitFor([&] { return !linesWith(h.debugLines(), "REJECTED: ").empty(); }));
    h.sendBytesFrom("127.0.0.1", plain(makePacket(5, u"641")), Transport::Tcp);
    ASSERT_TRUE(h.peer.waitForCount(1));
    EXPECT_EQ(ReportPacket::parse(h.peer.received()[0].data).msgRootId, u"641");
    EXPECT_EQ(h.peer.received()[0].data.size(), kReportPacketSize);  // no office key: no MAC
    EXPECT_EQ(linesWith(h.debugLines(), "REJECTED: "),
              std::vector<std::string>{rejected("127.0.0.2", "not allowed")});
}

TEST(ClientTrust, startUpRefusesSettingsItCannotUseAndNamesTheFileAndTheFault) {
    TempDir shared;
    Keys keys(shared / "keys");
    const fs::path dir = keys.dir;
    const fs::path open = shared / "open_office.key", bad = shared / "bad.pub",
                   folder = shared / "folder.pub";
    fs::copy_file(dir / "office.key", open);
    fs::permissions(open, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
    writeFile(bad, "TELLWICK OPERATOR PUBLIC KEY\nnot base64 at all\n");
    fs::create_directories(folder);
    const std::string pub = (dir / "operator.pub").string();

    struct Case {
        const char* name;
        std::string settings;  // the lines after the ports
        std::string fault;     // the box text after "Error!: "; "@" stands for cln_config.ini
    } cases[] = {
        {"missing key", "[Security]\nSec.OperatorKey = " + (dir / "nothing.pub").string() + "\n",
         (dir / "nothing.pub").string() + ": the key file is missing"},
        {"malformed key", "[Security]\nSec.OperatorKey = " + bad.string() + "\n",
         bad.string() + ": the key is malformed"},
        {"not a file", "[Security]\nSec.OperatorKey = " + folder.string() + "\n",
         folder.string() + ": not a regular file"},
        {"wrong kind", "[Security]\nSec.OperatorKey = " + (dir / "office.key").string() + "\n",
         (dir / "office.key").string() +
             ": a key of the wrong kind (TELLWICK OFFICE KEY, not TELLWICK OPERATOR PUBLIC KEY)"},
        {"office key readable by others", "[Security]\nSec.OfficeKey = " + open.string() + "\n",
         open.string() + ": the secret key is readable by others (chmod 600 it)"},
        {"operator secret key as office key",
         "[Security]\nSec.OfficeKey = " + (dir / "operator.key").string() + "\n",
         (dir / "operator.key").string() +
             ": a key of the wrong kind (TELLWICK OPERATOR SECRET KEY, not TELLWICK OFFICE KEY)"},
        {"bad address", "Net.AllowFrom = 10.0.0.1, 10.0.0.256\n",
         "@: Net.AllowFrom: \"10.0.0.256\" is neither an IPv4 address nor a network a.b.c.d/n"},
        {"bad prefix", "Net.AllowFrom = 10.0.0.0/33\n",
         "@: Net.AllowFrom: \"10.0.0.0/33\" is neither an IPv4 address nor a network a.b.c.d/n"},
        {"a name", "Net.AllowFrom = PC-01\n",
         "@: Net.AllowFrom: \"PC-01\" is neither an IPv4 address nor a network a.b.c.d/n"},
        {"empty entry", "Net.AllowFrom = 10.0.0.1,,10.0.0.2\n", "@: Net.AllowFrom: an empty entry"},
        {"only commas", "Net.AllowFrom = ,\n", "@: Net.AllowFrom: an empty entry"},
        {"zero skew", "[Security]\nSec.OperatorKey = " + pub + "\nSec.MaxClockSkew = 0\n",
         "@: Sec.MaxClockSkew: \"0\" is not a number of seconds from 1 to 86400"},
        {"skew not a number", "[Security]\nSec.OperatorKey = " + pub + "\nSec.MaxClockSkew = 10m\n",
         "@: Sec.MaxClockSkew: \"10m\" is not a number of seconds from 1 to 86400"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientHarness h;
        h.writeConfig("[Network]\nNet.PortListen = " + std::to_string(h.listenPort) + "\n" +
                      c.settings);
        std::string fault = c.fault;
        if (fault[0] == '@') fault = (h.work / "cln_config.ini").string() + fault.substr(1);
        const RunResult r = run(binPath("tellwick_client"), h.options());
        EXPECT_EQ(r.code, 0);
        EXPECT_NE(r.err.find("Error!: " + fault + "\n"), std::string::npos) << r.err;
        ASSERT_FALSE(h.debugLines().empty());
        EXPECT_EQ(h.debugLines().back(), "ERROR: " + fault);
        EXPECT_EQ(h.eventIds(), std::vector<int>{});
    }
}

TEST(ClientTrust, aSkewThatIsNotUsedIsNotChecked) {
    // Without an operator key nothing is checked against the clock, and the client starts as
    // it always did.
    ClientHarness h;
    h.writeConfig("[Network]\nNet.PortListen = " + std::to_string(h.listenPort) +
                  "\nNet.PortSender = " + std::to_string(h.peer.port()) +
                  "\n[Security]\nSec.MaxClockSkew = never\n");
    auto client = h.start();
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();
}

// The operator's own tools end to end: a message signed by the real tellwick_cli with the
// operator's key is shown by a keyed client, the same text sent without the key is not.
TEST(ClientTrust, keyedCliReachesAKeyedClientAndAnUnkeyedCliDoesNot) {
    ClientHarness h;
    Keys keys(h.tmp / "keys");
    h.writeConfig(keyedConfig(h, keys));
    auto client = h.start({"--debug"}, {{"TELLWICK_TEST_CONFIRM_AFTER_MS", "100"}});
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();

    const auto cli = [&](std::vector<std::string> extra) {
        std::vector<std::string> args{"-a", "127.0.0.1",         "-p", std::to_string(h.listenPort),
                                      "-t", "from the operator", "-m", "tcp"};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(binPath("tellwick_cli"), withArgs(args));
    };
    EXPECT_EQ(cli({}).code, 0);
    ASSERT_TRUE(waitFor([&] {
        return !linesWith(h.debugLines(), rejected("127.0.0.1", "no signature")).empty();
    })) << "the unsigned message is refused";
    EXPECT_EQ(cli({"-k", (keys.dir / "operator.key").string()}).code, 0);
    // 105 is the refusal of the unsigned one, 101 and 102 the signed message shown and read.
    ASSERT_TRUE(waitFor([&] { return h.eventIds().size() == 4; }));
    EXPECT_EQ(h.eventIds(), (std::vector<int>{100, 105, 101, 102}));
    EXPECT_EQ(h.events()[2].strings[2], "from the operator");
    EXPECT_EQ(h.peer.count(), 0u) << "the cli asks for no reports";
}
