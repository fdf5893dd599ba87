#pragma once
// Runs the real tellwick_client in a folder of its own (configuration, lock, registry, event
// log) with a test peer standing in for the server on the report port.
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
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
    // From a chosen loopback address (127.x.y.z) instead of 127.0.0.1.
    void sendBytesFrom(const std::string& source, const std::vector<std::uint8_t>& bytes,
                       Transport transport) const;
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

// A private X server (Xvfb) on the first free display number, optionally with a real window
// manager (openbox) on it, and the X tools the tests look at windows with.
class PrivateDisplay {
public:
    explicit PrivateDisplay(bool withWindowManager = false);
    // Empty when the server did not come up; problem() then says why.
    const std::string& name() const { return name_; }
    std::string problem() const;
    // Whether Xvfb, xdotool and xprop (and openbox, when asked for) are installed.
    static std::string missingTools(bool withWindowManager);

    RunResult tool(const std::string& program, std::vector<std::string> args) const;
    RunResult xdotool(std::vector<std::string> args) const { return tool("xdotool", args); }
    // The id of the visible window with exactly this title, or "".
    std::string findWindow(const std::string& title) const;
    // xprop's line for one property of a window ("-root" for the root window).
    std::string property(const std::string& window, const std::string& name) const;
    // The window ids of _NET_CLIENT_LIST_STACKING, bottom first, as numbers.
    std::vector<unsigned long> stacking() const;
    unsigned long activeWindow() const;
    // Client area (absolute) and the window manager's frame extents of a window.
    struct Geometry {
        int x = 0, y = 0, width = 0, height = 0;
        int left = 0, right = 0, top = 0, bottom = 0;
    };
    std::optional<Geometry> geometry(const std::string& window) const;
    // The colour of one screen pixel as "#RRGGBB".
    std::string pixel(int x, int y) const;

private:
    bool start(bool withWindowManager);

    std::unique_ptr<Process> server_;
    std::unique_ptr<Process> windowManager_;
    std::string name_;
};

unsigned long windowNumber(const std::string& id);

}  // namespace tw::test
