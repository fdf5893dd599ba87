#include "tests/client/client_harness.h"

#include <regex>
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

namespace {

bool installed(const std::string& program) {
    for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"})
        if (std::filesystem::exists(std::string(dir) + program)) return true;
    return false;
}

}  // namespace

std::string PrivateDisplay::missingTools(bool withWindowManager) {
    std::string missing;
    std::vector<std::string> tools = {"Xvfb", "xdotool", "xprop", "xwininfo", "convert"};
    if (withWindowManager) {
        tools.push_back("openbox");
        tools.push_back("wmctrl");
    }
    for (const auto& t : tools)
        if (!installed(t)) missing += (missing.empty() ? "" : ", ") + t;
    return missing;
}

PrivateDisplay::PrivateDisplay(bool withWindowManager)
    : server_("/usr/bin/Xvfb",
              withArgs({"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"})) {
    waitFor([&] { return server_.out().find('\n') != std::string::npos || !server_.running(); });
    const std::string out = server_.out();
    const auto nl = out.find('\n');
    if (nl == std::string::npos) return;
    name_ = ":" + out.substr(0, nl);
    if (!withWindowManager) return;
    windowManager_ = std::make_unique<Process>("/usr/bin/openbox",
                                               withArgs({"--sm-disable"}, {{"DISPLAY", name_}}));
    // The window manager is up once it has announced itself on the root window.
    if (!waitFor([&] {
            return property("-root", "_NET_SUPPORTING_WM_CHECK").find("window id") !=
                   std::string::npos;
        }))
        name_.clear();
}

RunResult PrivateDisplay::tool(const std::string& program, std::vector<std::string> args) const {
    return run("/usr/bin/" + program, withArgs(std::move(args), {{"DISPLAY", name_}}));
}

std::string PrivateDisplay::findWindow(const std::string& title) const {
    const RunResult r = xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"});
    return r.out.substr(0, r.out.find('\n'));
}

std::string PrivateDisplay::property(const std::string& window, const std::string& name) const {
    const RunResult r =
        window == "-root" ? tool("xprop", {"-root", name}) : tool("xprop", {"-id", window, name});
    return r.out;
}

unsigned long windowNumber(const std::string& id) { return std::stoul(id, nullptr, 0); }

std::vector<unsigned long> PrivateDisplay::stacking() const {
    std::vector<unsigned long> ids;
    const std::string line = property("-root", "_NET_CLIENT_LIST_STACKING");
    static const std::regex hex("0x[0-9a-fA-F]+");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), hex);
         it != std::sregex_iterator(); ++it)
        ids.push_back(windowNumber(it->str()));
    return ids;
}

unsigned long PrivateDisplay::activeWindow() const {
    const std::string line = property("-root", "_NET_ACTIVE_WINDOW");
    const auto at = line.find("0x");
    return at == std::string::npos ? 0 : windowNumber(line.substr(at));
}

std::optional<PrivateDisplay::Geometry> PrivateDisplay::geometry(const std::string& window) const {
    const RunResult info = tool("xwininfo", {"-id", window});
    std::smatch m;
    Geometry g;
    const auto number = [&](const char* label, int& out) {
        const std::regex re(std::string(label) + R"(:\s+(-?\d+))");
        if (!std::regex_search(info.out, m, re)) return false;
        out = std::stoi(m[1]);
        return true;
    };
    if (!number("Absolute upper-left X", g.x) || !number("Absolute upper-left Y", g.y) ||
        !number("Width", g.width) || !number("Height", g.height))
        return std::nullopt;
    const std::string extents = property(window, "_NET_FRAME_EXTENTS");
    static const std::regex four(R"((\d+), (\d+), (\d+), (\d+))");
    if (std::regex_search(extents, m, four)) {
        g.left = std::stoi(m[1]);
        g.right = std::stoi(m[2]);
        g.top = std::stoi(m[3]);
        g.bottom = std::stoi(m[4]);
    }
    return g;
}

std::string PrivateDisplay::pixel(int x, int y) const {
    const RunResult r =
        run("/usr/bin/import",
            withArgs({"-window", "root", "-crop",
                      "1x1+" + std::to_string(x) + "+" + std::to_string(y), "-depth", "8", "txt:-"},
                     {{"DISPLAY", name_}}));
    static const std::regex colour("#[0-9A-Fa-f]{6}");
    std::smatch m;
    return std::regex_search(r.out, m, colour) ? m.str() : std::string();
}

}  // namespace tw::test
