#include <algorithm>
#include <cstring>

#include "client/packet_handling.h"
#include "common/packets.h"
#include "fuzz/checks.h"

namespace tw::fuzz {

namespace {

template <class Packet>
std::string roundTrip(Bytes input, std::size_t size, const char* what) {
    const auto parsed = Packet::read(input);
    const std::size_t expectMissing = input.size() < size ? size - input.size() : 0;
    if (parsed.missingBytes != expectMissing) return std::string(what) + ": wrong missing count";
    const auto bytes = parsed.packet.serialize();
    if (bytes.size() != size) return std::string(what) + ": serialised size";
    // What was read is written back to the same record, and reads again the same.
    const auto again = Packet::parse(bytes);
    if (again.serialize() != bytes) return std::string(what) + ": round trip changed the record";
    // The one-byte field is copied as it came, or zero when it was cut off.
    const std::uint8_t last = input.size() >= size ? input[size - 1] : 0;
    if (bytes[size - 1] != last) return std::string(what) + ": flag byte";
    return {};
}

}  // namespace

std::string checkPackets(Bytes input) {
    if (auto p = roundTrip<MessagePacket>(input, kMessagePacketSize, "message"); !p.empty())
        return p;
    if (auto p = roundTrip<ReportPacket>(input, kReportPacketSize, "report"); !p.empty()) return p;

    const MessagePacket packet = MessagePacket::parse(input);
    // The client's decision, with and without this packet's RootId as the last confirmed one.
    for (const std::u16string& last : {std::u16string(), packet.msgRootId}) {
        const auto action = client::decidePacket(packet, last);
        const bool wanted = packet.systemMessage & kSysReportsWanted;
        if (action == client::PacketAction::Duplicate && !(wanted && packet.msgRootId == last))
            return "a packet without reports wanted was taken for a repeat";
        if (wanted && packet.msgRootId == last && action != client::PacketAction::Duplicate)
            return "a repeat was not answered as one";
    }
    (void)client::incomingPacketLog(packet, Transport::Udp);

    const client::ClientNames names{"PC-01", "PC-01.OFFICE.LAN"};
    for (std::uint8_t kind : {M_REP_DELIVERED, M_REP_CONFIRMED, M_REP_IAMHERE, M_REP_ACTIVE}) {
        const ReportPacket report = client::buildReport(names, packet, kind);
        const auto back = ReportPacket::parse(report.serialize());
        if (back.msgRootId != packet.msgRootId || back.msgGuid != packet.msgGuid ||
            back.reportMask != kind || !back.clientAddr.empty())
            return "a report does not carry what the packet gave";
    }
    return {};
}

}  // namespace tw::fuzz
