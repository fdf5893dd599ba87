#include "tests/client/client_harness.h"

#include <sstream>

#include "common/net.h"

namespace tw::test {

MessagePacket makePacket(std::uint8_t flags, std::u16string rootId, std::u16string text,
                         std::u16string language) {
    MessagePacket p;
    p.language = std::move(language);
    p.serverName = u"OPERATOR-PC";
    p.msgGuid = u"GUID-" + rootId;
    p.msgRootId = std::move(rootId);
    p.msgText = std::move(text);
    p.systemMessage = flags;
    return p;
}

ClientHarness::ClientHarness(int logger)
    : work(tmp / "work"),
      runtime(tmp / "run"),
      registry(tmp / "registry"),
      eventLog(tmp / "events.jsonl"),
      listenPort(freePort()),
      useEventLogger(logger) {
    std::filesystem::create_directories(work);
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    writeConfig("[Common]\nLog.UseEventLogger = " + std::to_string(logger) +
                "\n\n[Network]\nNet.PortListen = " + std::to_string(listenPort) +
                "\nNet.PortSender = " + std::to_string(peer.port()) + "\n");
}

void ClientHarness::writeConfig(const std::string& text) {
    writeFile(work / "cln_config.ini", text);
}

Process::Options ClientHarness::options(std::vector<std::string> args,
                                        std::map<std::string, std::string> env) const {
    Process::Options o;
    o.args = std::move(args);
    o.workDir = work;
    o.env = {{"XDG_RUNTIME_DIR", runtime.string()},
             {"TELLWICK_REGISTRY", registry.string()},
             {"TELLWICK_EVENTLOG", eventLog.string()},
             {"TELLWICK_NONINTERACTIVE", "1"}};
    if (!env.count("QT_QPA_PLATFORM")) o.env["QT_QPA_PLATFORM"] = "offscreen";
    for (auto& [k, v] : env) o.env[k] = v;
    return o;
}

std::unique_ptr<Process> ClientHarness::start(std::vector<std::string> args,
                                              std::map<std::string, std::string> env) {
    return std::make_unique<Process>(binPath("tellwick_client"),
                                     options(std::move(args), std::move(env)));
}

bool ClientHarness::waitStarted(Process& p) {
    return waitFor([&] {
               if (!p.running()) return true;
               if (useEventLogger != 0) {
                   for (int id : eventIds())
                       if (id == 100) return true;
                   return false;
               }
               return debugLog().find("NameFQDN = ") != std::string::npos;
           }) &&
           p.running();
}

void ClientHarness::send(const MessagePacket& packet, Transport transport) const {
    const auto bytes = packet.serialize();
    sendBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), transport);
}

void ClientHarness::sendBytes(const std::vector<std::uint8_t>& bytes, Transport transport) const {
    if (!net::sendBlock("127.0.0.1", listenPort, transport, bytes))
        throw std::runtime_error("cannot reach the client");
}

std::vector<GotReport> ClientHarness::reports() const {
    std::vector<GotReport> out;
    for (const auto& r : peer.received())
        out.push_back({ReportPacket::parse(r.data), r.transport, r.peerAddress});
    return out;
}

std::vector<LoggedEvent> ClientHarness::events() const { return readEventLog(eventLog); }

std::vector<int> ClientHarness::eventIds() const {
    std::vector<int> ids;
    for (const auto& e : events()) ids.push_back(e.id);
    return ids;
}

std::string ClientHarness::debugLog() const { return readFile(work / "debug_client.log"); }

std::vector<std::string> ClientHarness::debugLines() const {
    std::vector<std::string> lines;
    const std::string log = debugLog();
    std::size_t start = 0;
    for (;;) {
        const auto end = log.find("\r\n", start);
        if (end == std::string::npos) break;
        lines.push_back(log.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

}  // namespace tw::test
