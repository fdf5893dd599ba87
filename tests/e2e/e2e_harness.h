#pragma once
// The whole message road with the real programs: three tellwick_client processes, each in a
// network namespace of its own on a made-up /24 behind a bridge, the real tellwick_server in
// front of them, and a private Xvfb display on which the test acts as the operator and as the
// people at the workstations (xdotool).
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace tw::test::e2e {

// Why the road cannot be built on this machine, or "" when it can (root, ip netns, Xvfb,
// xdotool, ImageMagick's import).
std::string missingPrerequisite();

// A bridge in this namespace holding .1 of 10.77.N.0/24 (N free and random per run) and one
// namespace per client with a veth pair into the bridge (.11, .12, ...). Every name carries a
// per-run suffix; everything is removed again by the destructor, whatever happened.
class TestNetwork {
public:
    explicit TestNetwork(int clients);
    ~TestNetwork();
    TestNetwork(const TestNetwork&) = delete;
    TestNetwork& operator=(const TestNetwork&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::string serverAddress() const { return prefix_ + "1"; }
    std::string clientAddress(int i) const { return prefix_ + std::to_string(11 + i); }
    std::string broadcastAddress() const { return prefix_ + "255"; }
    std::string nameSpace(int i) const;
    // Runs a command inside client i's namespace and returns its result.
    RunResult exec(int i, const std::vector<std::string>& command) const;

private:
    std::string suffix_, prefix_, bridge_;
    int clients_ = 0;
    std::string error_;
};

// A private X server with one screen of kScreenWidth x kScreenHeight, reachable over its
// socket path from every namespace.
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 1024;

class Display {
public:
    Display();
    ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;
    const std::string& name() const { return name_; }
    RunResult xdotool(const std::vector<std::string>& args) const;
    // The first visible window with a title matching the pattern, optionally of one process.
    std::string findWindow(const std::string& titlePattern, int pid = 0) const;
    bool screenshot(const std::filesystem::path& file, const std::string& window = "root") const;

private:
    Process server_;
    std::string name_;
};

// The lines of a debug log (CR LF ends).
std::vector<std::string> readLines(const std::filesystem::path& file);
std::size_t countLines(const std::vector<std::string>& lines, const std::string& line);

// One workstation: tellwick_client with --debug in its namespace under a host name of its
// own, with its own folder, configuration, runtime folder, registry and event log.
class ClientHost {
public:
    // confirmAfterMs > 0: the client's test hook presses OK after that long. `moreConfig` is
    // appended to cln_config.ini (groups of its own, such as [Security]).
    ClientHost(const TestNetwork& net, int index, const std::string& hostName, int listenPort,
               int serverPort, const Display& display, int confirmAfterMs,
               const std::string& moreConfig = {});
    bool waitStarted();
    int pid() const { return process_->pid(); }
    void stop();  // the session ends (SIGTERM)
    std::vector<LoggedEvent> events() const { return readEventLog(eventLog_); }
    int countEvents(int id) const;
    std::vector<std::string> debugLines() const { return readLines(work_ / "debug_client.log"); }
    const std::string& hostName() const { return hostName_; }
    const std::filesystem::path& folder() const { return tmp_.path(); }

private:
    std::string hostName_;
    TempDir tmp_;
    std::filesystem::path work_, eventLog_;
    std::unique_ptr<Process> process_;
};

// The operator's program with --debug in a folder of its own, its window at (0, 0) in a
// known size.
struct ServerSettings {
    int protoUseTcp = 1;
    int broadcast = 0;
    std::string broadcastIp;
    int listenPort = 0;
    int senderPort = 0;
    int timerSeconds = 10;
    int saveFormatName = 1;
    int saveFormatValue = 0;
    // Paths for the [Security] group; empty: the key is not written.
    std::string signingKey, officeKey;
};

class ServerHost {
public:
    // Window geometry and where its parts are, relative to the window.
    static constexpr int kWidth = 640, kHeight = 480;
    static constexpr int kSplitterVertc = 330, kSplitterHoriz = 200;
    static constexpr int kTreeRootX = 440, kTreeRootY = 18;  // caption of "All clients"
    static constexpr int kTreeBlankX = 440, kTreeBlankY = 300;
    static constexpr int kEditorX = 150, kEditorY = 100;

    ServerHost(const ServerSettings& settings, const std::string& clientsXml,
               const Display& display);
    // Until the main window is shown and the listener runs.
    bool waitStarted();
    const std::string& window() const { return window_; }

    // The operator's hands.
    bool click(int x, int y, int button = 1);
    bool keys(const std::vector<std::string>& keys);
    bool type(const std::string& text);
    // Ticks "All clients" (and so everything), with the whole tree open, and makes the
    // window's any-checked flag see it.
    bool checkAllClients();
    bool sendMessage(const std::string& text);
    // Opens the scanner menu with a right click into the tree and picks entry n (1-based).
    bool scannerMenu(int entry);

    // Masks of the colours of the state images, one per image row of the tree, top to bottom
    // (bit 1 yellow = delivered, 2 green = confirmed, 4 red = not delivered, 8 blue = active,
    // 16 grey = no news).
    std::vector<int> treeStateBands() const;

    bool stop();  // SIGTERM = the window is closed; true on exit code 0
    std::vector<std::string> debugLines() const { return readLines(work_ / "debug_server.log"); }
    std::vector<LoggedEvent> events() const { return readEventLog(eventLog_); }
    std::filesystem::path clientsFile() const { return work_ / "clients.xml"; }
    const std::filesystem::path& folder() const { return tmp_.path(); }
    std::string err() const { return process_->err(); }

private:
    const Display& display_;
    TempDir tmp_;
    std::filesystem::path work_, eventLog_;
    std::unique_ptr<Process> process_;
    std::string window_;
    int listenPort_ = 0;
};

// A clients database with one group of the given (name, address) keys.
std::string clientsXml(const std::string& group,
                       const std::vector<std::pair<std::string, std::string>>& keys);

// Copies the given folders and a screenshot into a folder that outlives the test and returns
// its path, for a failed run to be looked at.
std::filesystem::path keepEvidence(const std::string& testName, const Display* display,
                                   const std::vector<std::filesystem::path>& folders);

}  // namespace tw::test::e2e
