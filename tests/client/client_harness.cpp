#include "tests/client/client_harness.h"

#include <algorithm>
#include <asio.hpp>
#include <cctype>
#include <sstream>

#include "common/net.h"

namespace tw::test {

using namespace std::chrono_literals;

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

void ClientHarness::sendBytesFrom(const std::string& source, const std::vector<std::uint8_t>& bytes,
                                  Transport transport) const {
    asio::io_context ctx;
    const auto from = asio::ip::make_address_v4(source);
    const auto to = asio::ip::make_address_v4("127.0.0.1");
    const auto port = static_cast<unsigned short>(listenPort);
    if (transport == Transport::Udp) {
        asio::ip::udp::socket s(ctx, asio::ip::udp::endpoint(from, 0));
        s.send_to(asio::buffer(bytes), asio::ip::udp::endpoint(to, port));
    } else {
        asio::ip::tcp::socket s(ctx);
        s.open(asio::ip::tcp::v4());
        s.bind(asio::ip::tcp::endpoint(from, 0));
        s.connect(asio::ip::tcp::endpoint(to, port));
        asio::write(s, asio::buffer(bytes));
        s.shutdown(asio::ip::tcp::socket::shutdown_send);
    }
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

PrivateDisplay::PrivateDisplay(bool withWindowManager) {
    // Other X servers come and go on this machine: a server that lost the race for its display
    // number, or a window manager that did not come up, is tried again.
    for (int attempt = 0; attempt < 3 && !start(withWindowManager); ++attempt) {
    }
}

bool PrivateDisplay::start(bool withWindowManager) {
    name_.clear();
    windowManager_.reset();
    server_ = std::make_unique<Process>(
        "/usr/bin/Xvfb",
        withArgs({"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}));
    waitFor([&] { return server_->out().find('\n') != std::string::npos || !server_->running(); },
            30s);
    const std::string out = server_->out();
    const auto nl = out.find('\n');
    if (nl == std::string::npos || !server_->running()) return false;
    name_ = ":" + out.substr(0, nl);
    if (!withWindowManager) return true;
    windowManager_ = std::make_unique<Process>("/usr/bin/openbox",
                                               withArgs({"--sm-disable"}, {{"DISPLAY", name_}}));
    // The window manager is up once it has announced itself on the root window.
    waitFor(
        [&] {
            return property("-root", "_NET_SUPPORTING_WM_CHECK").find("window id") !=
                       std::string::npos ||
                   !windowManager_->running();
        },
        30s);
    if (windowManager_->running()) return true;
    name_.clear();
    return false;
}

std::string PrivateDisplay::problem() const {
    std::string why = "Xvfb: " + (server_ ? server_->err() : std::string());
    if (windowManager_) why += "\nopenbox: " + windowManager_->err();
    return why;
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

namespace {

// Every "0x..." number in a line of xprop, in order.
std::vector<unsigned long> hexNumbers(const std::string& line) {
    std::vector<unsigned long> out;
    for (auto at = line.find("0x"); at != std::string::npos; at = line.find("0x", at + 2))
        out.push_back(std::stoul(line.substr(at), nullptr, 16));
    return out;
}

// The integer after "label:" in xwininfo's output.
std::optional<int> labelled(const std::string& text, const std::string& label) {
    const auto at = text.find(label + ":");
    if (at == std::string::npos) return std::nullopt;
    return std::stoi(text.substr(at + label.size() + 1));
}

}  // namespace

std::vector<unsigned long> PrivateDisplay::stacking() const {
    return hexNumbers(property("-root", "_NET_CLIENT_LIST_STACKING"));
}

unsigned long PrivateDisplay::activeWindow() const {
    const auto ids = hexNumbers(property("-root", "_NET_ACTIVE_WINDOW"));
    return ids.empty() ? 0 : ids.front();
}

std::optional<PrivateDisplay::Geometry> PrivateDisplay::geometry(const std::string& window) const {
    const std::string info = tool("xwininfo", {"-id", window}).out;
    const auto x = labelled(info, "Absolute upper-left X");
    const auto y = labelled(info, "Absolute upper-left Y");
    const auto w = labelled(info, "Width");
    const auto h = labelled(info, "Height");
    if (!x || !y || !w || !h) return std::nullopt;
    Geometry g{*x, *y, *w, *h};
    // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"
    const std::string extents = property(window, "_NET_FRAME_EXTENTS");
    if (const auto eq = extents.find("= "); eq != std::string::npos) {
        std::istringstream in(extents.substr(eq + 2));
        char comma = 0;
        in >> g.left >> comma >> g.right >> comma >> g.top >> comma >> g.bottom;
    }
    return g;
}

std::string PrivateDisplay::pixel(int x, int y) const {
    const RunResult r =
        run("/usr/bin/import",
            withArgs({"-window", "root", "-crop",
                      "1x1+" + std::to_string(x) + "+" + std::to_string(y), "-depth", "8", "txt:-"},
                     {{"DISPLAY", name_}}));
    // "0,0: (255,0,255)  #FF00FF  magenta"
    for (auto at = r.out.find('#'); at != std::string::npos; at = r.out.find('#', at + 1)) {
        const std::string c = r.out.substr(at, 7);
        if (c.size() == 7 && std::all_of(c.begin() + 1, c.end(), [](char ch) {
                return std::isxdigit(static_cast<unsigned char>(ch));
            }))
            return c;
    }
    return std::string();
}

}  // namespace tw::test
