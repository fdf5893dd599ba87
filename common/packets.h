#pragma once
// The wire records exchanged between senders and clients. Every packet is one fixed-size
// block in one send; text fields are fixed runs of UTF-16LE code units, zero-padded, cut
// when too long, with no terminator when full.
#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace tw {

inline constexpr std::size_t kMessagePacketSize = 1297;  // 0x511
inline constexpr std::size_t kReportPacketSize = 353;    // 0x161

// Field widths in UTF-16 code units.
inline constexpr std::size_t kLanguageWidth = 2;
inline constexpr std::size_t kServerNameWidth = 64;
inline constexpr std::size_t kMsgRootIdWidth = 10;
inline constexpr std::size_t kMsgGuidWidth = 72;
inline constexpr std::size_t kMsgTextWidth = 500;
inline constexpr std::size_t kClientAddrWidth = 15;
inline constexpr std::size_t kClientNameWidth = 15;
inline constexpr std::size_t kClientFqdnWidth = 64;

// Byte offsets of the fields.
inline constexpr std::size_t kOffLanguage = 0;
inline constexpr std::size_t kOffServerName = 4;
inline constexpr std::size_t kOffMsgRootId = 132;
inline constexpr std::size_t kOffMsgGuid = 152;
inline constexpr std::size_t kOffMsgText = 296;
inline constexpr std::size_t kOffSystemMessage = 1296;

inline constexpr std::size_t kOffClientAddr = 0;
inline constexpr std::size_t kOffClientName = 30;
inline constexpr std::size_t kOffClientFqdn = 60;
inline constexpr std::size_t kOffReportRootId = 188;
inline constexpr std::size_t kOffReportGuid = 208;
inline constexpr std::size_t kOffReportMask = 352;

// SystemMessage bits; a message packet may carry several.
inline constexpr std::uint8_t kSysReportsWanted = 1;
inline constexpr std::uint8_t kSysClientDiscover = 2;
inline constexpr std::uint8_t kSysClientCheck = 4;

// What a report says: the ReportMask byte. The byte is a kind, not a set of bits: Active (the
// answer to a check) happens to be IAmHere|Delivered, yet it means neither. A received byte
// of any other value is kept as it came.
enum class ReportKind : std::uint8_t { Delivered = 1, Confirmed = 2, IAmHere = 8, Active = 9 };

inline constexpr std::uint16_t kDefaultClientPort = 47127;
inline constexpr std::uint16_t kDefaultServerPort = 47128;

// Connection modes as the programs number them.
enum class Transport : int { Tcp = 1, Udp = 2 };

// Writes `value` into the field of `width` units at `out` (width*2 bytes).
void writeTextField(std::uint8_t* out, std::size_t width, std::u16string_view value);
// Reads the field: units up to the first zero unit, or all `width` units.
std::u16string readTextField(const std::uint8_t* in, std::size_t width);

// A record read from a received buffer, with how many bytes of the record the buffer lacked
// (read as zeros). Bytes beyond the record size are ignored and not counted.
template <class Packet>
struct Parsed {
    Packet packet;
    std::size_t missingBytes = 0;
    bool complete() const { return missingBytes == 0; }
};

struct MessagePacket {
    std::u16string language;
    std::u16string serverName;
    std::u16string msgRootId;
    std::u16string msgGuid;
    std::u16string msgText;
    std::uint8_t systemMessage = 0;

    std::array<std::uint8_t, kMessagePacketSize> serialize() const;
    // A shorter buffer reads as if padded with zero bytes; extra bytes are ignored.
    static MessagePacket parse(std::span<const std::uint8_t> bytes);
    // The same, telling how short the buffer was.
    static Parsed<MessagePacket> read(std::span<const std::uint8_t> bytes);
};

struct ReportPacket {
    std::u16string clientAddr;
    std::u16string clientName;
    std::u16string clientFqdn;
    std::u16string msgRootId;
    std::u16string msgGuid;
    ReportKind kind{};  // the ReportMask byte

    std::array<std::uint8_t, kReportPacketSize> serialize() const;
    static ReportPacket parse(std::span<const std::uint8_t> bytes);
    static Parsed<ReportPacket> read(std::span<const std::uint8_t> bytes);
};

// The identifier of one send action: local wall-clock seconds since 1970 (counted as if
// UTC) minus 1376357000, in decimal.
std::u16string makeMsgRootId(std::time_t now);
std::u16string makeMsgRootId();

}  // namespace tw
