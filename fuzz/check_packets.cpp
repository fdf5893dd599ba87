#include <QString>
#include <algorithm>
#include <cstring>
#include <vector>

#include "client/packet_handling.h"
#include "common/packets.h"
#include "fuzz/checks.h"
#include "server/data/clients.h"
#include "server/engine/report_matcher.h"

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

QString q(const std::u16string& s) {
    return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}

// A small tree whose records a report can match by every rule: mailed ones, one never mailed,
// names and addresses that differ only in case.
server::ClientsList matcherList() {
    server::ClientsList list(1);
    list[0].folder = 1;
    const char* addresses[] = {"10.0.0.1", "PC-01", "PC-01.OFFICE.LAN", "10.0.0.1", "pc-02", ""};
    for (const char* a : addresses) {
        server::ClientRecord r;
        r.address = r.name = QString::fromLatin1(a);
        r.parentIndex = 0;
        r.level = 1;
        list.push_back(r);
    }
    return list;
}

// The matcher's indexes give exactly what a walk over the list finds.
std::string checkReportMatching(const ReportPacket& report) {
    server::ClientsList list = matcherList();
    server::engine::ReportMatcher matcher;
    matcher.rebuild(list);
    const QString rootId = QStringLiteral("123456789");
    for (int i : {1, 2, 3, 4}) {
        const QString guid = QStringLiteral("G%1").arg(i % 3);
        list[static_cast<std::size_t>(i)].setMessageId(rootId);
        list[static_cast<std::size_t>(i)].setMessageGuid(guid);
        matcher.noteSent(i, rootId, guid);
    }
    const server::engine::ReportKey key{q(report.msgRootId), q(report.msgGuid),
                                        q(report.clientAddr), q(report.clientName),
                                        q(report.clientFqdn)};
    for (const bool broadcast : {false, true}) {
        const auto found = matcher.match(list, key, broadcast);
        std::vector<std::pair<int, std::string>> walked, indexed;
        for (int i = 0; i < static_cast<int>(list.size()); ++i)
            if (const char* rule =
                    server::engine::matchRule(list[static_cast<std::size_t>(i)], key, broadcast))
                walked.emplace_back(i, rule);
        for (const auto& m : found) indexed.emplace_back(m.index, m.rule);
        if (walked != indexed) return "the report matcher differs from a walk over the list";
    }
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
    for (ReportKind kind :
         {ReportKind::Delivered, ReportKind::Confirmed, ReportKind::IAmHere, ReportKind::Active}) {
        const ReportPacket report = client::buildReport(names, packet, kind);
        const auto back = ReportPacket::parse(report.serialize());
        if (back.msgRootId != packet.msgRootId || back.msgGuid != packet.msgGuid ||
            back.kind != kind || !back.clientAddr.empty())
            return "a report does not carry what the packet gave";
    }
    return checkReportMatching(ReportPacket::parse(input));
}

}  // namespace tw::fuzz
