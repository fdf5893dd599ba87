#include <gtest/gtest.h>

#include "client/config.h"
#include "client/packet_handling.h"
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
