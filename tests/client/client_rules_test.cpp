#include <gtest/gtest.h>

#include "client/config.h"
#include "client/packet_handling.h"
#include "client/trust.h"
#include "tests/support/support.h"

using namespace tw;
using namespace tw::client;

TEST(PacketDecision, firstMatchingRuleWins) {
    struct Row {
        std::uint8_t flags;
        std::u16string root, last;
        PacketAction expected;
        const char* why;
    } rows[] = {
        {1, u"100", u"100", PacketAction::Duplicate, "repeat of the confirmed message"},
        {0, u"100", u"100", PacketAction::ShowText, "command-line repeat is shown again"},
        {1, u"100", u"101", PacketAction::ShowText, "new message"},
        {1, u"abc", u"ABC", PacketAction::ShowText, "comparison is case-sensitive"},
        {1, u"", u"", PacketAction::Duplicate, "empty id before any confirmation"},
        {3, u"100", u"100", PacketAction::Duplicate, "duplicate rule before discovery"},
        {3, u"100", u"7", PacketAction::Discovery, "discovery"},
        {2, u"100", u"100", PacketAction::Discovery, "discovery without reports bit"},
        {7, u"100", u"7", PacketAction::Discovery, "both probe bits: discovery only"},
        {5, u"100", u"7", PacketAction::Check, "check"},
        {4, u"100", u"100", PacketAction::Check, "check without reports bit"},
    };
    for (const Row& r : rows) {
        MessagePacket p;
        p.systemMessage = r.flags;
        p.msgRootId = r.root;
        EXPECT_EQ(decidePacket(p, r.last), r.expected) << r.why;
    }
}

TEST(PacketLog, linesNameThePacketKind) {
    MessagePacket p;
    p.msgGuid = u"G";
    p.msgRootId = u"42";
    p.msgText = u"Hi\nthere";
    p.serverName = u"OPERATOR";
    p.systemMessage = 5;
    const std::vector<std::string> expected = {
        "",
        "######################",
        "INCOMING_PACKET FROM SERVER: #M_SYS_CLIENT_CHECK",
        "Conn mode = 1",
        "MsgGUID = G",
        "MsgRootId = 42",
        "MsgText = Hi\nthere",
        "ServerName = OPERATOR",
        "SystemMessage = 5",
        "",
    };
    EXPECT_EQ(incomingPacketLog(p, Transport::Tcp), expected);
    p.systemMessage = 6;
    EXPECT_EQ(incomingPacketLog(p, Transport::Udp)[2],
              "INCOMING_PACKET FROM SERVER: #M_SYS_CLIENT_DISCOVER");
    p.systemMessage = 1;
    EXPECT_EQ(incomingPacketLog(p, Transport::Udp)[2],
              "INCOMING_PACKET FROM SERVER: --- REGULAR MESSAGE ---");
}

TEST(ClientConfigFile, readsKeysByGroupWithDefaults) {
    test::TempDir dir;
    struct Row {
        const char* why;
        const char* text;  // nullptr: no file
        int logger, listen, sender;
    } rows[] = {
        {"no file", nullptr, 1, 47127, 47128},
        {"all keys",
         "[Common]\r\nLog.UseEventLogger = 0\r\n\r\n[Network]\r\nNet.PortListen = 5000\r\n"
         "Net.PortSender = 5001\r\n",
         0, 5000, 5001},
        {"missing keys take defaults", "[Network]\nNet.PortSender=6000\n", 1, 47127, 6000},
        {"keys only count in their group", "[Common]\nNet.PortListen = 5000\n", 1, 47127, 47128},
        {"byte-order mark and blanks", "\xEF\xBB\xBF[Network]\n  Net.PortListen   =  5002  \n", 1,
         5002, 47128},
        {"not a number reads as 0", "[Common]\nLog.UseEventLogger = yes\n", 0, 47127, 47128},
        {"logger switch keeps the low byte", "[Common]\nLog.UseEventLogger = 257\n", 1, 47127,
         47128},
        {"other switch values", "[Common]\nLog.UseEventLogger = 2\n", 2, 47127, 47128},
        {"port above 65535 is kept, not wrapped", "[Network]\nNet.PortListen = 65536\n", 1, 65536,
         47128},
        {"comment lines", "[Network]\n;Net.PortListen = 1\n", 1, 47127, 47128},
    };
    for (const Row& r : rows) {
        const auto file = dir / "cln_config.ini";
        std::filesystem::remove(file);
        if (r.text) test::writeFile(file, r.text);
        const ClientConfig c = readClientConfig(file);
        EXPECT_EQ(c.useEventLogger, r.logger) << r.why;
        EXPECT_EQ(c.portListen, r.listen) << r.why;
        EXPECT_EQ(c.portSender, r.sender) << r.why;
    }
}

TEST(AllowFrom, addressesAndNetworksDecideWhoIsHeard) {
    struct Row {
        const char* list;
        const char* peer;
        bool allowed;
    } rows[] = {
        {"", "203.0.113.9", true},  // no list: everyone
        {"  ", "203.0.113.9", true},
        {"10.0.0.5", "10.0.0.5", true},
        {"10.0.0.5", "10.0.0.6", false},
        {"10.0.0.0/24", "10.0.0.255", true},
        {"10.0.0.0/24", "10.0.1.0", false},
        {"10.0.0.77/24", "10.0.0.1", true},  // host bits of a network are ignored
        {"192.168.1.0/31", "192.168.1.1", true},
        {"192.168.1.0/31", "192.168.1.2", false},
        {"0.0.0.0/0", "203.0.113.9", true},
        {"10.0.0.5/32", "10.0.0.5", true},
        {"172.16.0.0/12, 10.0.0.1", "172.31.255.255", true},
        {"172.16.0.0/12 , 10.0.0.1", "10.0.0.1", true},
        {"172.16.0.0/12,10.0.0.1", "172.32.0.0", false},
        {"10.0.0.1", "not an address", false},
    };
    for (const Row& r : rows) {
        AllowList list;
        ASSERT_EQ(list.parse(r.list), "") << r.list;
        EXPECT_EQ(list.allows(r.peer), r.allowed) << r.list << " / " << r.peer;
    }
}

TEST(AllowFrom, anEntryThatIsNoAddressOrNetworkIsAFaultAndKeepsNothing) {
    for (const char* bad :
         {"10.0.0.256", "10.0.0", "10.0.0.1/33", "10.0.0.1/", "10.0.0.1/-1", "10.0.0.1/8x",
          "10.0.0.1/008", "PC-01", "10.0.0.1,", ",", "10.0.0.1,,10.0.0.2", "10.0.0.1 10.0.0.2"}) {
        AllowList list;
        EXPECT_NE(list.parse(bad), "") << bad;
        // A refused list is not a list that lets everyone in by accident: it is empty, and
        // the client does not start with it.
        EXPECT_TRUE(list.empty()) << bad;
    }
}

TEST(RejectionTally, tellsTheFirstAtOnceAndTheRestOncePerInterval) {
    using namespace std::chrono_literals;
    const auto t0 = RejectionTally::Clock::time_point{} + 1000s;
    RejectionTally tally(60s);
    EXPECT_FALSE(tally.note(0, t0));  // nothing to tell
    ASSERT_TRUE(tally.note(1, t0));
    EXPECT_EQ(tally.take(t0), 1u);
    EXPECT_FALSE(tally.note(2, t0 + 10s));
    EXPECT_FALSE(tally.note(3, t0 + 59s));
    EXPECT_EQ(tally.nextAllowed(), t0 + 60s);
    EXPECT_EQ(tally.pending(), 5u);
    EXPECT_EQ(tally.take(t0 + 60s), 5u);  // the timer's record
    EXPECT_FALSE(tally.note(1, t0 + 100s));
    EXPECT_EQ(tally.take(t0 + 120s), 1u);
    // After a quiet interval the next one is told at once again.
    EXPECT_TRUE(tally.note(4, t0 + 500s));
    EXPECT_EQ(tally.take(t0 + 500s), 4u);
}
