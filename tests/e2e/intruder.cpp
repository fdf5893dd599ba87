// A device on the office network without the operator's keys: it forges a workstation's
// confirmation from what it saw on the wire (the root id and GUID of a delivered report) and
// sends it to the server, bare or under a MAC of a key of its own.
//   e2e_intruder SERVER PORT udp|tcp CLIENT-ADDRESS CLIENT-NAME ROOT-ID GUID [KEY-FILE]
#include <cstdio>
#include <string>

#include "common/auth.h"
#include "common/net.h"
#include "common/packets.h"
#include "common/text.h"

int main(int argc, char** argv) {
    if (argc != 8 && argc != 9) {
        std::fprintf(stderr, "usage: %s SERVER PORT udp|tcp ADDRESS NAME ROOT-ID GUID [KEY]\n",
                     argv[0]);
        return 2;
    }
    const std::string transport = argv[3];
    tw::ReportPacket report;
    report.clientAddr = tw::utf8ToUtf16(argv[4]);
    report.clientName = tw::utf8ToUtf16(argv[5]);
    report.clientFqdn = report.clientName;
    report.msgRootId = tw::utf8ToUtf16(argv[6]);
    report.msgGuid = tw::utf8ToUtf16(argv[7]);
    report.kind = tw::ReportKind::Confirmed;
    const auto record = report.serialize();
    std::vector<std::uint8_t> bytes(record.begin(), record.end());
    if (argc == 9) {
        const auto key = tw::auth::readKeyFile(argv[8], tw::auth::KeyKind::Office);
        if (!key.key) {
            std::fprintf(stderr, "%s\n", key.error.c_str());
            return 2;
        }
        bytes = tw::auth::mac(record, *key.key, tw::auth::nowMs());
    }
    const bool sent =
        tw::net::sendBlock(argv[1], std::stoi(argv[2]),
                           transport == "tcp" ? tw::Transport::Tcp : tw::Transport::Udp, bytes);
    return sent ? 0 : 1;
}
