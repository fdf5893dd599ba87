#pragma once
// Runs the real tellwick_client in a folder of its own (configuration, lock, registry, event
// log) with a test peer standing in for the server on the report port.
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/packets.h"
#include "tests/support/support.h"

namespace tw::test {

struct GotReport {
    ReportPacket report;
    Transport transport;
    std::string peer;
};

MessagePacket makePacket(std::uint8_t flags, std::u16string rootId, std::u16string text = u"",
                         std::u16string language = u"EN");

class ClientHarness {
public:
    explicit ClientHarness(int useEventLogger = 1);

    void writeConfig(const std::string& text);
    Process::Options options(std::vector<std::string> args = {"--debug"},
                             std::map<std::string, std::string> env = {}) const;
    std::unique_ptr<Process> start(std::vector<std::string> args = {"--debug"},
                                   std::map<std::string, std::string> env = {});
    // Until the listeners are open and event 100 (if any) is written.
    bool waitStarted(Process& p);

    void send(const MessagePacket& packet, Transport transport) const;
    void sendBytes(const std::vector<std::uint8_t>& bytes, Transport transport) const;
    std::vector<GotReport> reports() const;
    std::vector<LoggedEvent> events() const;
    std::vector<int> eventIds() const;
    std::string debugLog() const;
    std::vector<std::string> debugLines() const;

    TempDir tmp;
    std::filesystem::path work, runtime, registry, eventLog;
    int listenPort;
    int useEventLogger;
    TestPeer peer;
};

}  // namespace tw::test
