#pragma once
// What the client does with one incoming packet and the reports it sends back; free of
// widgets so that the rules can be tested on their own.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/packets.h"

namespace tw::client {

// The client's own names, fixed at start-up.
struct ClientNames {
    std::string netbios;  // upper-cased host name
    std::string fqdn;     // upper-cased, at most 64 characters
};

// Where the answer to a packet goes: the packet's source address, the configured server
// port (never the packet's source port), over the packet's own transport.
struct ReplyTarget {
    std::string serverIp;
    int port = kDefaultServerPort;
    Transport transport = Transport::Udp;
};

enum class PacketAction { Duplicate, Discovery, Check, ShowText };

// First match wins: a repeat of the last confirmed message (reports wanted) before the
// discovery bit, before the check bit; everything else is a text message.
PacketAction decidePacket(const MessagePacket& packet, std::u16string_view lastConfirmedRootId);

// The debug lines written for every incoming packet.
std::vector<std::string> incomingPacketLog(const MessagePacket& packet, Transport transport);

// "#M_REP_CONFIRMED" etc.
std::string_view reportName(ReportKind kind);

// "REPORTED: ServerIP = ..., MyNetBIOS = ..., MyFQDN$ = ..., Packet = #M_REP_..."
std::string reportedLine(const ReplyTarget& target, const ClientNames& names, ReportKind kind);

ReportPacket buildReport(const ClientNames& names, const MessagePacket& packet, ReportKind kind);

}  // namespace tw::client
