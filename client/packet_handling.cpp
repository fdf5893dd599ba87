#include "client/packet_handling.h"

#include "common/text.h"

namespace tw::client {

PacketAction decidePacket(const MessagePacket& packet, std::u16string_view lastConfirmedRootId) {
    if ((packet.systemMessage & kSysReportsWanted) && packet.msgRootId == lastConfirmedRootId)
        return PacketAction::Duplicate;
    if (packet.systemMessage & kSysClientDiscover) return PacketAction::Discovery;
    if (packet.systemMessage & kSysClientCheck) return PacketAction::Check;
    return PacketAction::ShowText;
}

std::vector<std::string> incomingPacketLog(const MessagePacket& packet, Transport transport) {
    const char* label = (packet.systemMessage & kSysClientDiscover) ? "#M_SYS_CLIENT_DISCOVER"
                        : (packet.systemMessage & kSysClientCheck)  ? "#M_SYS_CLIENT_CHECK"
                                                                    : "--- REGULAR MESSAGE ---";
    return {
        "",
        "######################",
        std::string("INCOMING_PACKET FROM SERVER: ") + label,
        "Conn mode = " + std::to_string(static_cast<int>(transport)),
        "MsgGUID = " + utf16ToUtf8(packet.msgGuid),
        "MsgRootId = " + utf16ToUtf8(packet.msgRootId),
        "MsgText = " + utf16ToUtf8(packet.msgText),
        "ServerName = " + utf16ToUtf8(packet.serverName),
        "SystemMessage = " + std::to_string(packet.systemMessage),
        "",
    };
}

std::string_view reportName(ReportKind kind) {
    switch (kind) {
        case ReportKind::Delivered:
            return "#M_REP_DELIVERED";
        case ReportKind::Confirmed:
            return "#M_REP_CONFIRMED";
        case ReportKind::IAmHere:
            return "#M_REP_IAMHERE";
        case ReportKind::Active:
            return "#M_REP_ACTIVE";
    }
    return "";
}

std::string reportedLine(const ReplyTarget& target, const ClientNames& names, ReportKind kind) {
    return "REPORTED: ServerIP = " + target.serverIp + ", MyNetBIOS = " + names.netbios +
           ", MyFQDN$ = " + names.fqdn + ", Packet = " + std::string(reportName(kind));
}

ReportPacket buildReport(const ClientNames& names, const MessagePacket& packet, ReportKind kind) {
    ReportPacket r;  // ClientAddr stays empty: the server fills it in on receipt
    r.clientName = utf8ToUtf16(names.netbios);
    r.clientFqdn = utf8ToUtf16(names.fqdn);
    r.msgRootId = packet.msgRootId;
    r.msgGuid = packet.msgGuid;
    r.kind = kind;
    return r;
}

}  // namespace tw::client
