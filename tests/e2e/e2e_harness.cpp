#include "tests/e2e/e2e_harness.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <random>
#include <sstream>

namespace tw::test::e2e {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// The full path of a program on PATH (or in the system folders that root's PATH has).
fs::path findProgram(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::istringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        const fs::path p = fs::path(dir) / name;
        if (::access(p.c_str(), X_OK) == 0) return p;
    }
    return {};
}

RunResult ipCommand(const std::vector<std::string>& args) {
    return run(findProgram("ip"), withArgs(args), 20s);
}

std::string randomHex(int digits) {
    std::random_device rd;
    std::ostringstream out;
    for (int i = 0; i < digits; ++i) out << std::hex << (rd() % 16);
    return out.str();
}

void makePrivateFolder(const fs::path& p) {
    fs::create_directories(p);
    fs::permissions(p, fs::perms::owner_all);
}

// True while some process of this namespace listens on the TCP port.
bool listeningTcp(int port) {
    std::ostringstream hex;
    hex << ':' << std::uppercase << std::hex << std::setw(4) << std::setfill('0') << port;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::istringstream in(readFile(table));
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string sl, local, remote, state;
            fields >> sl >> local >> remote >> state;
            if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == hex.str())
                return true;
        }
    }
    return false;
}

}  // namespace

std::string missingPrerequisite() {
    if (::geteuid() != 0) return "needs root for network namespaces";
    for (const char* program : {"ip", "unshare", "Xvfb", "xdotool", "import"})
        if (findProgram(program).empty()) return std::string("needs ") + program;
    if (ipCommand({"netns", "list"}).code != 0) return "ip netns is not available";
    return {};
}

// ---- network ------------------------------------------------------------------------------

TestNetwork::TestNetwork(int clients) : suffix_(randomHex(6)), bridge_("twbr-" + suffix_) {
    // A /24 that nothing on this machine uses yet.
    std::random_device rd;
    const std::string inUse = ipCommand({"-4", "-o", "addr", "show"}).out +
                              ipCommand({"-4", "route", "show", "table", "all"}).out;
    for (int attempt = 0; attempt < 50 && prefix_.empty(); ++attempt) {
        const std::string candidate = "10.77." + std::to_string(100 + rd() % 150) + ".";
        if (inUse.find(candidate) == std::string::npos) prefix_ = candidate;
    }
    if (prefix_.empty()) {
        error_ = "no free 10.77.N.0/24";
        return;
    }
    auto step = [&](const std::vector<std::string>& args) {
        if (!error_.empty()) return;
        const RunResult r = ipCommand(args);
        if (r.code != 0) {
            error_ = "ip";
            for (const auto& a : args) error_ += " " + a;
            error_ += ": " + r.err;
        }
    };
    step({"link", "add", bridge_, "type", "bridge"});
    step({"addr", "add", prefix_ + "1/24", "brd", "+", "dev", bridge_});
    step({"link", "set", bridge_, "up"});
    for (int i = 0; i < clients && error_.empty(); ++i) {
        clients_ = i + 1;  // from here on the teardown removes it
        const std::string ns = nameSpace(i);
        const std::string hostEnd = "tw" + std::to_string(i + 1) + "h-" + suffix_;
        step({"netns", "add", ns});
        step({"link", "add", hostEnd, "type", "veth", "peer", "name", "eth0", "netns", ns});
        step({"link", "set", hostEnd, "master", bridge_});
        step({"link", "set", hostEnd, "up"});
        step({"-n", ns, "link", "set", "lo", "up"});
        step({"-n", ns, "addr", "add", clientAddress(i) + "/24", "brd", "+", "dev", "eth0"});
        step({"-n", ns, "link", "set", "eth0", "up"});
    }
}

TestNetwork::~TestNetwork() {
    // The host ends go first: after the namespace is deleted they would linger a while.
    for (int i = 0; i < clients_; ++i)
        ipCommand({"link", "del", "tw" + std::to_string(i + 1) + "h-" + suffix_});
    for (int i = 0; i < clients_; ++i) ipCommand({"netns", "del", nameSpace(i)});
    ipCommand({"link", "del", bridge_});
}

std::string TestNetwork::nameSpace(int i) const {
    return "tw" + std::to_string(i + 1) + "-" + suffix_;
}

RunResult TestNetwork::exec(int i, const std::vector<std::string>& command) const {
    std::vector<std::string> args{"netns", "exec", nameSpace(i)};
    args.insert(args.end(), command.begin(), command.end());
    return ipCommand(args);
}

// ---- display ------------------------------------------------------------------------------

Display::Display()
    : server_(findProgram("Xvfb"),
              withArgs({"-displayfd", "1", "-screen", "0",
                        std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24",
                        "-nolisten", "tcp"})) {
    waitFor([&] { return server_.out().find('\n') != std::string::npos || !server_.running(); });
    const std::string out = server_.out();
    if (const auto nl = out.find('\n'); nl != std::string::npos) name_ = ":" + out.substr(0, nl);
}

Display::~Display() {
    // A killed X server leaves its socket and lock file behind.
    server_.signal(SIGTERM);
    server_.wait(5s);
}

RunResult Display::xdotool(const std::vector<std::string>& args) const {
    return run(findProgram("xdotool"), withArgs(args, {{"DISPLAY", name_}}), 20s);
}

std::string Display::findWindow(const std::string& titlePattern, int pid) const {
    std::vector<std::string> args{"search", "--all", "--onlyvisible"};
    if (pid > 0) {
        args.push_back("--pid");
        args.push_back(std::to_string(pid));
    }
    args.push_back("--name");
    args.push_back(titlePattern);
    const RunResult r = xdotool(args);
    return r.out.substr(0, r.out.find('\n'));
}

bool Display::screenshot(const fs::path& file, const std::string& window) const {
    return run(findProgram("import"),
               withArgs({"-window", window, file.string()}, {{"DISPLAY", name_}}), 20s)
               .code == 0;
}

// ---- logs ---------------------------------------------------------------------------------


std::vector<std::string> readLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(file));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::size_t countLines(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// ---- client -------------------------------------------------------------------------------

ClientHost::ClientHost(const TestNetwork& net, int index, const std::string& hostName,
                       int listenPort, int serverPort, const Display& display, int confirmAfterMs,
                       const std::string& moreConfig)
    : hostName_(hostName), work_(tmp_ / "work"), eventLog_(tmp_ / "events.jsonl") {
    fs::create_directories(work_);
    makePrivateFolder(tmp_ / "run");
    fs::create_directories(tmp_ / "registry");
    writeFile(work_ / "cln_config.ini",
              "[Common]\nLog.UseEventLogger = 1\n\n[Network]\nNet.PortListen = " +
                  std::to_string(listenPort) + "\nNet.PortSender = " + std::to_string(serverPort) +
                  "\n" + moreConfig);
    Process::Options o;
    // A UTS namespace of its own gives the workstation its own computer name; every step
    // execs the next, so the process id is the client's.
    o.args = {"netns",
              "exec",
              net.nameSpace(index),
              findProgram("unshare").string(),
              "--uts",
              "/bin/sh",
              "-c",
              "printf %s \"$0\" > /proc/sys/kernel/hostname && exec \"$1\" --debug",
              hostName,
              binPath("tellwick_client").string()};
    o.workDir = work_;
    o.env = {{"XDG_RUNTIME_DIR", (tmp_ / "run").string()},
             {"TELLWICK_REGISTRY", (tmp_ / "registry").string()},
             {"TELLWICK_EVENTLOG", eventLog_.string()},
             {"TELLWICK_NONINTERACTIVE", "1"},
             {"QT_QPA_PLATFORM", "xcb"},
             {"DISPLAY", display.name()}};
    if (confirmAfterMs > 0)
        o.env["TELLWICK_TEST_CONFIRM_AFTER_MS"] = std::to_string(confirmAfterMs);
    else
        o.unsetEnv.push_back("TELLWICK_TEST_CONFIRM_AFTER_MS");
    process_ = std::make_unique<Process>(findProgram("ip"), std::move(o));
}

bool ClientHost::waitStarted() {
    return waitFor([&] { return !process_->running() || countEvents(100) > 0; }, 30s) &&
           process_->running();
}

void ClientHost::stop() {
    process_->signal(SIGTERM);
    process_->wait(10s);
}

int ClientHost::countEvents(int id) const {
    int n = 0;
    for (const auto& e : events()) n += e.id == id ? 1 : 0;
    return n;
}

// ---- server -------------------------------------------------------------------------------

ServerHost::ServerHost(const ServerSettings& s, const std::string& clientsXmlText,
                       const Display& display)
    : display_(display), work_(tmp_ / "work"), eventLog_(tmp_ / "events.jsonl") {
    fs::create_directories(work_);
    makePrivateFolder(tmp_ / "run");
    fs::create_directories(tmp_ / "registry");
    auto n = [](int v) { return std::to_string(v); };
    std::string config =
        "\xEF\xBB\xBF[Common]\r\nLanguage = EN\r\nUseEventLogger = 1\r\nWarningMask = 1\r\n"
        "ScreenRes = " +
        n(kScreenWidth) + "*" + n(kScreenHeight) +
        "\r\nWindowPosX = 0\r\nWindowPosY = 0\r\nWindowWidth = " + n(kWidth) +
        "\r\nWindowHeight = " + n(kHeight) + "\r\nSplitterHoriz = " + n(kSplitterHoriz) +
        "\r\nSplitterVertc = " + n(kSplitterVertc) +
        "\r\n\r\n[Network]\r\nBroadcast = " + n(s.broadcast) +
        "\r\nBroadcast_IP = " + s.broadcastIp + "\r\nProtoUseTCP = " + n(s.protoUseTcp) +
        "\r\nPortListen = " + n(s.listenPort) + "\r\nPortSender = " + n(s.senderPort) +
        "\r\n\r\n[Paths]\r\nClients = .\\clients.xml\r\nTemplates = .\\templates.ini\r\n"
        "\r\n[Messages]\r\nTimer = " +
        n(s.timerSeconds) +
        "\r\nMeasure = 0\r\n\r\n"
        "[Scanner]\r\nSaveFormatName = " +
        n(s.saveFormatName) + "\r\nSaveFormatValue = " + n(s.saveFormatValue) + "\r\n";
    if (!s.signingKey.empty() || !s.officeKey.empty()) {
        config += "\r\n[Security]\r\n";
        if (!s.signingKey.empty()) config += "SigningKey = " + s.signingKey + "\r\n";
        if (!s.officeKey.empty()) config += "OfficeKey = " + s.officeKey + "\r\n";
    }
    writeFile(work_ / "srv_config.ini", config);
    writeFile(work_ / "clients.xml", clientsXmlText);

    Process::Options o;
    o.args = {"--debug"};
    o.workDir = work_;
    o.env = {{"XDG_RUNTIME_DIR", (tmp_ / "run").string()},
             {"TELLWICK_REGISTRY", (tmp_ / "registry").string()},
             {"TELLWICK_EVENTLOG", eventLog_.string()},
             {"TELLWICK_NONINTERACTIVE", "1"},
             {"QT_QPA_PLATFORM", "xcb"},
             {"DISPLAY", display.name()}};
    process_ = std::make_unique<Process>(binPath("tellwick_server"), std::move(o));
    listenPort_ = s.listenPort;
}

bool ServerHost::waitStarted() {
    const bool shown = waitFor(
        [&] {
            if (!process_->running()) return true;
            window_ = display_.findWindow("^Tellwick Server v1\\.53$", process_->pid());
            return !window_.empty() && listeningTcp(listenPort_);
        },
        30s);
    return shown && process_->running() && !window_.empty();
}

bool ServerHost::click(int x, int y, int button) {
    return display_
               .xdotool({"mousemove", "--window", window_, std::to_string(x), std::to_string(y),
                         "click", std::to_string(button)})
               .code == 0;
}

bool ServerHost::keys(const std::vector<std::string>& keys) {
    // Message windows of clients on the same display take the focus when they open.
    std::vector<std::string> args{"windowfocus", "--sync", window_, "key", "--delay", "50"};
    args.insert(args.end(), keys.begin(), keys.end());
    return display_.xdotool(args).code == 0;
}

bool ServerHost::type(const std::string& text) {
    return display_.xdotool({"windowfocus", "--sync", window_, "type", "--delay", "30", text})
               .code == 0;
}

bool ServerHost::checkAllClients() {
    // A click on the caption makes "All clients" current without touching its box; "*" opens
    // everything below it, Space ticks it. The window's any-checked flag follows left clicks
    // in the tree only, so a last click on an empty spot lets it see the ticks.
    return click(kTreeRootX, kTreeRootY) && keys({"asterisk", "space"}) &&
           click(kTreeBlankX, kTreeBlankY);
}

bool ServerHost::sendMessage(const std::string& text) {
    if (!click(kEditorX, kEditorY)) return false;
    // Line by line, with the Return key between them.
    std::istringstream lines(text);
    bool first = true;
    for (std::string line; std::getline(lines, line); first = false)
        if ((!first && !keys({"Return"})) || !type(line)) return false;
    return keys({"ctrl+Return"});
}

bool ServerHost::scannerMenu(int entry) {
    if (!click(kTreeBlankX, kTreeBlankY, 3)) return false;
    // The popup is a window of the server's own beside the main window.
    const bool open = waitFor(
        [&] {
            const RunResult r =
                display_.xdotool({"search", "--all", "--onlyvisible", "--pid",
                                  std::to_string(process_->pid()), "--classname", "."});
            return std::count(r.out.begin(), r.out.end(), '\n') >= 2;
        },
        10s);
    if (!open) return false;
    std::vector<std::string> args{"key", "--delay", "100"};
    for (int i = 0; i < entry; ++i) args.push_back("Down");
    args.push_back("Return");
    return display_.xdotool(args).code == 0;
}

std::vector<int> ServerHost::treeStateBands() const {
    const fs::path shot = tmp_ / "tree.ppm";
    if (run(findProgram("import"),
            withArgs({"-window", window_, "-depth", "8", "ppm:" + shot.string()},
                     {{"DISPLAY", display_.name()}}),
            20s)
            .code != 0)
        return {};
    const std::string ppm = readFile(shot);
    std::istringstream header(ppm);
    std::string magic;
    int width = 0, height = 0, maxValue = 0;
    header >> magic >> width >> height >> maxValue;
    if (magic != "P6" || maxValue != 255 || width <= 0 || height <= 0) return {};
    const std::size_t start = static_cast<std::size_t>(header.tellg()) + 1;
    if (ppm.size() < start + static_cast<std::size_t>(width) * height * 3) return {};

    // The inner squares of the state images: no news, delivered, confirmed, not delivered,
    // active. A row shows one when it holds a run of a few pixels of exactly that colour
    // (anti-aliased text never does).
    struct Colour {
        int r, g, b, bit;
    };
    const Colour colours[] = {
        {210, 210, 210, 16}, {255, 255, 0, 1}, {0, 255, 0, 2}, {255, 0, 0, 4}, {120, 120, 255, 8}};
    const auto* pixels = reinterpret_cast<const unsigned char*>(ppm.data()) + start;
    std::vector<int> bands;
    int current = 0;
    // The tree fills the window right of the vertical splitter, above the buttons.
    for (int y = 0; y < std::min(height, kHeight - 80); ++y) {
        int rowMask = 0;
        for (const Colour& c : colours) {
            int run = 0;
            for (int x = kSplitterVertc; x < width && run < 4; ++x) {
                const auto* p = pixels + (static_cast<std::size_t>(y) * width + x) * 3;
                const bool same = std::abs(p[0] - c.r) <= 2 && std::abs(p[1] - c.g) <= 2 &&
                                  std::abs(p[2] - c.b) <= 2;
                run = same ? run + 1 : 0;
            }
            if (run >= 4) rowMask |= c.bit;
        }
        if (rowMask == 0 && current != 0) {
            bands.push_back(current);
            current = 0;
        }
        current |= rowMask;
    }
    if (current != 0) bands.push_back(current);
    return bands;
}

bool ServerHost::stop() {
    // The window as it was last seen, for anyone looking into a failed run.
    display_.screenshot(tmp_ / "before-close.png", window_);
    process_->signal(SIGTERM);
    const auto code = process_->wait(30s);
    return code && *code == 0;
}

// ---- helpers ------------------------------------------------------------------------------

std::string clientsXml(const std::string& group,
                       const std::vector<std::pair<std::string, std::string>>& keys) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root config=\"3.1\">\n"
        "    <group name=\"" +
        group + "\">\n";
    for (const auto& [name, address] : keys)
        xml += "        <key name=\"" + name + "\">" + address + "</key>\n";
    xml += "    </group>\n</root>\n";
    return xml;
}

fs::path keepEvidence(const std::string& testName, const Display* display,
                      const std::vector<fs::path>& folders) {
    const fs::path dir = fs::temp_directory_path() / "tellwick-e2e-evidence" /
                         (testName + "-" + std::to_string(::getpid()));
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (display) display->screenshot(dir / "screen.png");
    int i = 0;
    for (const auto& f : folders)
        fs::copy(f, dir / ("host" + std::to_string(i++)),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    return dir;
}

}  // namespace tw::test::e2e
