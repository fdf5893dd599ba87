#include "common/packets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <type_traits>
#include <vector>

#include "common/text.h"

using namespace tw;

namespace {

char16_t unitAt(const std::uint8_t* b, std::size_t off) {
    return static_cast<char16_t>(b[off] | (b[off + 1] << 8));
}

}  // namespace

TEST(Packets, serialisedSizesAreFixedWhateverTheFields) {
    MessagePacket m;
    EXPECT_EQ(m.serialize().size(), 1297u);
    m.msgText = std::u16string(2000, u'x');
    m.serverName = std::u16string(300, u'y');
    EXPECT_EQ(m.serialize().size(), 1297u);
    ReportPacket r;
    r.clientFqdn = std::u16string(500, u'z');
    EXPECT_EQ(r.serialize().size(), 353u);
}

TEST(Packets, messageFieldsSitAtTheirOffsetsAsUtf16le) {
    MessagePacket m;
    m.language = u"EN";
    m.serverName = u"HOST";
    m.msgRootId = u"123456789";
    m.msgGuid = u"G";
    m.msgText = u"Привет";
    m.systemMessage = 5;
    const auto b = m.serialize();
    EXPECT_EQ(b[0], 'E');
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[2], 'N');
    EXPECT_EQ(b[4], 'H');
    EXPECT_EQ(b[132], '1');
    EXPECT_EQ(b[152], 'G');
    EXPECT_EQ(unitAt(b.data(), 296), u'П');
    EXPECT_EQ(b[296], 0x1F);
    EXPECT_EQ(b[297], 0x04);
    EXPECT_EQ(b[1296], 5);
    EXPECT_EQ(unitAt(b.data(), 296 + 2 * 6), 0);  // zero padding after the text
}

TEST(Packets, fullWidthValueHasNoTerminatorAndLeavesNextFieldAlone) {
    MessagePacket m;
    m.msgRootId = u"1234567890";  // exactly ten units
    m.msgGuid = u"ABC";
    const auto b = m.serialize();
    EXPECT_EQ(unitAt(b.data(), 132 + 18), u'0');
    EXPECT_EQ(unitAt(b.data(), 152), u'A');
    const auto back = MessagePacket::parse(b);
    EXPECT_EQ(back.msgRootId, u"1234567890");
    EXPECT_EQ(back.msgGuid, u"ABC");
}

TEST(Packets, longValuesAreCutToTheirWidth) {
    MessagePacket m;
    m.msgText = std::u16string(600, u'a');
    m.language = u"ENGLISH";
    const auto back = MessagePacket::parse(m.serialize());
    EXPECT_EQ(back.msgText.size(), 500u);
    EXPECT_EQ(back.language, u"EN");
}

TEST(Packets, shortBufferReadsAsZeroPaddedAndLongerBufferIsCut) {
    MessagePacket m;
    m.language = u"RU";
    m.msgText = u"hello";
    m.systemMessage = 1;
    auto full = m.serialize();
    // Cut inside the text: the rest of the text and SystemMessage read as missing.
    const auto shortPkt = MessagePacket::parse(std::span(full.data(), 296 + 4));
    EXPECT_EQ(shortPkt.language, u"RU");
    EXPECT_EQ(shortPkt.msgText, u"he");
    EXPECT_EQ(shortPkt.systemMessage, 0);
    EXPECT_EQ(MessagePacket::parse({}).msgText, u"");

    std::vector<std::uint8_t> longer(full.begin(), full.end());
    longer.resize(4000, 0xFF);
    const auto longPkt = MessagePacket::parse(longer);
    EXPECT_EQ(longPkt.msgText, u"hello");
    EXPECT_EQ(longPkt.systemMessage, 1);
}

// Every cut of a full record: the prefix reads as the record with the rest zeroed, and the
// result counts exactly the bytes that were missing.
template <class Packet>
void checkEveryCut(const Packet& full, std::size_t size) {
    const auto bytes = full.serialize();
    for (std::size_t n = 0; n <= size; ++n) {
        SCOPED_TRACE(n);
        std::remove_const_t<decltype(bytes)> zeroed{};
        std::copy_n(bytes.begin(), n, zeroed.begin());
        const auto r = Packet::read(std::span(bytes.data(), n));
        EXPECT_EQ(r.missingBytes, size - n);
        EXPECT_EQ(r.complete(), n == size);
        EXPECT_EQ(r.packet.serialize(), zeroed);
    }
    std::vector<std::uint8_t> longer(bytes.begin(), bytes.end());
    longer.push_back(0x55);
    EXPECT_EQ(Packet::read(longer).missingBytes, 0u);
}

TEST(Packets, shortBufferTellsHowManyBytesWereMissing) {
    MessagePacket m;
    m.language = u"EN";
    m.serverName = u"OPERATOR-PC";
    m.msgRootId = u"123456789";
    m.msgGuid = u"AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE";
    m.msgText = std::u16string(500, u'x');
    m.systemMessage = 5;
    checkEveryCut(m, tw::kMessagePacketSize);

    ReportPacket r;
    r.clientAddr = u"192.168.100.200";
    r.clientName = u"PC-01";
    r.clientFqdn = u"PC-01.OFFICE.LAN";
    r.msgRootId = u"123456789";
    r.msgGuid = m.msgGuid;
    r.kind = ReportKind::Active;
    checkEveryCut(r, tw::kReportPacketSize);
}

TEST(Packets, reportFromClientHasZeroAddressAndFullAddressHasNoZero) {
    ReportPacket r;
    r.clientName = u"PC-01";
    r.clientFqdn = u"PC-01.OFFICE.LAN";
    r.msgRootId = u"42";
    r.msgGuid = u"AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE";
    r.kind = ReportKind::Confirmed;
    auto b = r.serialize();
    for (int i = 0; i < 30; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[30], 'P');
    EXPECT_EQ(b[60], 'P');
    EXPECT_EQ(b[188], '4');
    EXPECT_EQ(b[208], 'A');
    EXPECT_EQ(b[352], 2);

    auto parsed = ReportPacket::parse(b);
    parsed.clientAddr = u"192.168.100.200";  // 15 characters: fills the field
    const auto again = parsed.serialize();
    for (int i = 0; i < 15; ++i) EXPECT_NE(unitAt(again.data(), 2 * i), 0) << i;
    EXPECT_EQ(ReportPacket::parse(again).clientAddr, u"192.168.100.200");
    EXPECT_EQ(ReportPacket::parse(again).clientName, u"PC-01");
}

TEST(Packets, msgRootIdCountsLocalSecondsSinceTheEpochOfTheDesign) {
    // TZ is fixed so that local wall-clock time equals UTC here.
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(makeMsgRootId(1376357000), u"0");
    EXPECT_EQ(makeMsgRootId(1376357000 + 123456789), u"123456789");
    EXPECT_EQ(makeMsgRootId(1376356999), u"-1");
    setenv("TZ", "UTC-3", 1);  // three hours east of UTC
    tzset();
    EXPECT_EQ(makeMsgRootId(1376357000), u"10800");
    unsetenv("TZ");
    tzset();
}

TEST(Text, utf8RoundTripsThroughUtf16) {
    const std::string s = "Сообщение & <b>x</b> \xF0\x9F\x98\x80";
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(s)), s);
    EXPECT_EQ(utf8ToUtf16("\xFF"), u"\uFFFD");
    EXPECT_EQ(asciiUpper(std::string("pc-01.lan")), "PC-01.LAN");
}
