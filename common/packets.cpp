#include "common/packets.h"

#include <algorithm>
#include <cstring>

#include "common/platform/clock.h"

namespace tw {

void writeTextField(std::uint8_t* out, std::size_t width, std::u16string_view value) {
    const std::size_t n = std::min(width, value.size());
    for (std::size_t i = 0; i < width; ++i) {
        const char16_t u = i < n ? value[i] : u'\0';
        out[2 * i] = static_cast<std::uint8_t>(u & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>(u >> 8);
    }
}

std::u16string readTextField(const std::uint8_t* in, std::size_t width) {
    std::u16string s;
    for (std::size_t i = 0; i < width; ++i) {
        const char16_t u = static_cast<char16_t>(in[2 * i] | (in[2 * i + 1] << 8));
        if (u == 0) break;
        s.push_back(u);
    }
    return s;
}

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> padded(std::span<const std::uint8_t> bytes) {
    std::array<std::uint8_t, N> buf{};
    if (!bytes.empty()) std::memcpy(buf.data(), bytes.data(), std::min(N, bytes.size()));
    return buf;
}

template <std::size_t N>
std::size_t missing(std::span<const std::uint8_t> bytes) {
    return bytes.size() < N ? N - bytes.size() : 0;
}

}  // namespace

std::array<std::uint8_t, kMessagePacketSize> MessagePacket::serialize() const {
    std::array<std::uint8_t, kMessagePacketSize> b{};
    writeTextField(b.data() + kOffLanguage, kLanguageWidth, language);
    writeTextField(b.data() + kOffServerName, kServerNameWidth, serverName);
    writeTextField(b.data() + kOffMsgRootId, kMsgRootIdWidth, msgRootId);
    writeTextField(b.data() + kOffMsgGuid, kMsgGuidWidth, msgGuid);
    writeTextField(b.data() + kOffMsgText, kMsgTextWidth, msgText);
    b[kOffSystemMessage] = systemMessage;
    return b;
}

MessagePacket MessagePacket::parse(std::span<const std::uint8_t> bytes) {
    return read(bytes).packet;
}

Parsed<MessagePacket> MessagePacket::read(std::span<const std::uint8_t> bytes) {
    const auto b = padded<kMessagePacketSize>(bytes);
    Parsed<MessagePacket> r{{}, missing<kMessagePacketSize>(bytes)};
    MessagePacket& p = r.packet;
    p.language = readTextField(b.data() + kOffLanguage, kLanguageWidth);
    p.serverName = readTextField(b.data() + kOffServerName, kServerNameWidth);
    p.msgRootId = readTextField(b.data() + kOffMsgRootId, kMsgRootIdWidth);
    p.msgGuid = readTextField(b.data() + kOffMsgGuid, kMsgGuidWidth);
    p.msgText = readTextField(b.data() + kOffMsgText, kMsgTextWidth);
    p.systemMessage = b[kOffSystemMessage];
    return r;
}

std::array<std::uint8_t, kReportPacketSize> ReportPacket::serialize() const {
    std::array<std::uint8_t, kReportPacketSize> b{};
    writeTextField(b.data() + kOffClientAddr, kClientAddrWidth, clientAddr);
    writeTextField(b.data() + kOffClientName, kClientNameWidth, clientName);
    writeTextField(b.data() + kOffClientFqdn, kClientFqdnWidth, clientFqdn);
    writeTextField(b.data() + kOffReportRootId, kMsgRootIdWidth, msgRootId);
    writeTextField(b.data() + kOffReportGuid, kMsgGuidWidth, msgGuid);
    b[kOffReportMask] = static_cast<std::uint8_t>(kind);
    return b;
}

ReportPacket ReportPacket::parse(std::span<const std::uint8_t> bytes) { return read(bytes).packet; }

Parsed<ReportPacket> ReportPacket::read(std::span<const std::uint8_t> bytes) {
    const auto b = padded<kReportPacketSize>(bytes);
    Parsed<ReportPacket> r{{}, missing<kReportPacketSize>(bytes)};
    ReportPacket& p = r.packet;
    p.clientAddr = readTextField(b.data() + kOffClientAddr, kClientAddrWidth);
    p.clientName = readTextField(b.data() + kOffClientName, kClientNameWidth);
    p.clientFqdn = readTextField(b.data() + kOffClientFqdn, kClientFqdnWidth);
    p.msgRootId = readTextField(b.data() + kOffReportRootId, kMsgRootIdWidth);
    p.msgGuid = readTextField(b.data() + kOffReportGuid, kMsgGuidWidth);
    p.kind = static_cast<ReportKind>(b[kOffReportMask]);
    return r;
}

std::u16string makeMsgRootId(std::time_t now) {
    // Local wall-clock time read back as if it were UTC: the seconds count the design uses.
    const long long wall = platform::localWallClockSeconds(now);
    const std::string digits = std::to_string(wall - 1376357000LL);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string makeMsgRootId() { return makeMsgRootId(std::time(nullptr)); }

}  // namespace tw
