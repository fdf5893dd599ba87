// tellwick_server as a process: start-up failures with their exit codes and texts, and the
// close sequence run by a termination signal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>

#include "common/auth.h"
#include "common/net.h"
#include "tests/support/support.h"

namespace {

using tw::test::Process;
using tw::test::readFile;
using tw::test::TempDir;
using tw::test::writeFile;
namespace fs = std::filesystem;

const char kBom[] = "\xEF\xBB\xBF";

const char kSmallClients[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<root config=\"3.1\">\n"
    "    <group name=\"Office\">\n"
    "        <key name=\"Reception\">127.0.0.1</key>\n"
    "        <list name=\"Floor 1\">127.0.0.2,127.0.0.3</list>\n"
    "    </group>\n"
    "</root>\n";

// True while something listens on `port` over UDP (read from the kernel's table, so the
// check itself never holds the port).
bool udpPortInUse(int port) {
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line);  // header
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        if (local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) return true;
    }
    return false;
}

// One server's private world: working folder, lock folder, registry and event log.
class Server {
public:
    explicit Server(int port = tw::test::freePort()) : port_(port) {
        fs::create_directories(run_.path() / "rt");
        ::chmod((run_.path() / "rt").c_str(), 0700);
        fs::create_directories(run_.path() / "work");
        writeConfig("");
    }

    fs::path work() const { return run_.path() / "work"; }
    fs::path runtimeDir() const { return run_.path() / "rt"; }
    int port() const { return port_; }

    // srv_config.ini in English with the private port; `extraCommon` goes into [Common],
    // `extraGroups` at the end.
    void writeConfig(const std::string& extraCommon,
                     const std::string& clientsPath = ".\\clients.xml",
                     const std::string& extraGroups = "") {
        writeFile(work() / "srv_config.ini",
                  std::string(kBom) + "[Common]\r\nLanguage = EN\r\n" + extraCommon +
                      "\r\n[Network]\r\nProtoUseTCP = 1\r\nPortListen = " + std::to_string(port_) +
                      "\r\n\r\n[Paths]\r\nClients = " + clientsPath + "\r\n" + extraGroups);
    }

    Process::Options options(const fs::path& runtime = {}) const {
        Process::Options o;
        o.workDir = work();
        o.env = {{"XDG_RUNTIME_DIR", (runtime.empty() ? runtimeDir() : runtime).string()},
                 {"TELLWICK_REGISTRY", (run_.path() / "registry").string()},
                 {"TELLWICK_EVENTLOG", (run_.path() / "events.jsonl").string()},
                 {"TELLWICK_NONINTERACTIVE", "1"},
                 {"QT_QPA_PLATFORM", "offscreen"}};
        return o;
    }

    std::unique_ptr<Process> start() const {
        auto p = std::make_unique<Process>(tw::test::binPath("tellwick_server"), options());
        // Up when its report listener holds the port (the last step before the main loop).
        EXPECT_TRUE(tw::test::waitFor([&] { return udpPortInUse(port_) || !p->running(); },
                                      std::chrono::seconds(20)))
            << p->err();
        EXPECT_TRUE(p->running()) << p->err();
        return p;
    }

private:
    TempDir run_;
    int port_;
};

std::string iniValue(const std::string& file, const std::string& key) {
    const std::regex re("(^|\n)" + key + " = ([^\r\n]*)");
    std::smatch m;
    return std::regex_search(file, m, re) ? m[2].str() : std::string("<missing>");
}

TEST(ServerProcess, SecondInstanceStopsAndLeavesTheFirstRunning) {
    Server first;
    writeFile(first.work() / "clients.xml", kSmallClients);
    auto running = first.start();

    Server second;  // own folder and port, same lock folder
    const auto r =
        tw::test::run(tw::test::binPath("tellwick_server"), second.options(first.runtimeDir()));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Stop: The server is already running. Terminating...\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(second.work() / "debug_server.log"));

    EXPECT_TRUE(running->running());
    running->signal(SIGTERM);
    EXPECT_EQ(running->wait(), 0) << running->err();
}

struct FailedStart {
    const char* what;
    const char* clientsXml;   // null: no file
    const char* clientsPath;  // the configured path
    bool holdPort;
    int exitCode;
    const char* stderrText;
};

TEST(ServerProcess, StartUpFailuresEndWithTheirCodeAndBox) {
    const FailedStart cases[] = {
        {"broken database", "<root config=\"3.1\">\n  <group name=\"A\">\n</root>\n",
         ".\\clients.xml", false, 255, "Error: Error occured while parsing clients.xml: "},
        {"clients file cannot be created", nullptr, ".\\no-such-folder\\clients.xml", false, 1,
         "Error: Can't create or open clients.xml file.\n"},
        {"report port busy", kSmallClients, ".\\clients.xml", true, 1, "Error: Can't open port "},
    };
    for (const FailedStart& c : cases) {
        SCOPED_TRACE(c.what);
        Server s;
        s.writeConfig("", c.clientsPath);
        if (c.clientsXml) writeFile(s.work() / "clients.xml", c.clientsXml);
        tw::net::UdpListener blocker;
        if (c.holdPort) {
            ASSERT_TRUE(blocker.open(s.port()));
        }
        const auto r = tw::test::run(tw::test::binPath("tellwick_server"), s.options());
        EXPECT_EQ(r.code, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.stderrText), std::string::npos) << r.err;
        if (c.holdPort) {
            EXPECT_NE(r.err.find("Can't open port " + std::to_string(s.port()) + ". Already busy?"),
                      std::string::npos)
                << r.err;
        }
    }
}

TEST(ServerProcess, OnlyTheExactDebugSwitchStartsTheDebugLog) {
    // A start that fails at once is enough: the switch is read before the checks.
    for (const auto& [arg, logged] : {std::pair{"--debug", true}, std::pair{"--DEBUG", false}}) {
        SCOPED_TRACE(arg);
        Server s;
        s.writeConfig("", ".\\no-such-folder\\clients.xml");
        auto options = s.options();
        options.args = {arg};
        EXPECT_EQ(tw::test::run(tw::test::binPath("tellwick_server"), options).code, 1);
        EXPECT_EQ(fs::exists(s.work() / "debug_server.log"), logged);
    }
}

TEST(ServerProcess, TerminationSignalsSaveTheLiveGeometry) {
    Server s;
    writeFile(s.work() / "clients.xml", kSmallClients);

    // The first run learns the desktop size; the saved geometry applies only on that desktop.
    auto first = s.start();
    first->signal(SIGTERM);
    ASSERT_EQ(first->wait(), 0) << first->err();
    const std::string saved = readFile(s.work() / "srv_config.ini");
    const std::string screen = iniValue(saved, "ScreenRes");
    ASSERT_NE(screen.find('*'), std::string::npos) << saved;
    EXPECT_EQ(iniValue(saved, "WindowWidth"), "455");

    s.writeConfig("ScreenRes = " + screen +
                  "\r\nWindowPosX = 30\r\nWindowPosY = 40\r\nWindowWidth = 620\r\n"
                  "WindowHeight = 410\r\nSplitterHoriz = 140\r\nSplitterVertc = 310\r\n");
    auto second = s.start();
    second->signal(SIGINT);
    ASSERT_EQ(second->wait(), 0) << second->err();
    const std::string again = readFile(s.work() / "srv_config.ini");
    EXPECT_EQ(again.rfind(kBom, 0), 0u);
    EXPECT_EQ(iniValue(again, "WindowPosX"), "30");
    EXPECT_EQ(iniValue(again, "WindowPosY"), "40");
    EXPECT_EQ(iniValue(again, "WindowWidth"), "620");
    EXPECT_EQ(iniValue(again, "WindowHeight"), "410");
    EXPECT_EQ(iniValue(again, "SplitterHoriz"), "140");
    EXPECT_EQ(iniValue(again, "SplitterVertc"), "310");
    EXPECT_EQ(iniValue(again, "Language"), "EN");
}

// ---- Hostile and damaged files: the server starts, ends on SIGTERM with 0, and what it
// leaves behind reads back. ---------------------------------------------------------------

// Ends a running server the way the desktop does and expects the normal close.
void terminate(Process& p) {
    ASSERT_TRUE(p.running()) << p.err();
    p.signal(SIGTERM);
    const auto code = p.wait(std::chrono::seconds(60));
    ASSERT_TRUE(code.has_value()) << "the server did not end on SIGTERM";
    EXPECT_EQ(*code, 0) << p.err();
}

// The desktop size as the server writes it: a saved geometry applies only on that desktop.
std::string desktopOf(const Server& s) {
    auto p = s.start();
    terminate(*p);
    return iniValue(readFile(s.work() / "srv_config.ini"), "ScreenRes");
}

TEST(ServerProcess, NumbersOutsideTheirFieldsTakeTheDefaults) {
    Server s;
    writeFile(s.work() / "clients.xml", kSmallClients);
    const std::string screen = desktopOf(s);
    ASSERT_NE(screen.find('*'), std::string::npos);
    const struct {
        const char* common;
        const char* messages;
    } cases[] = {
        {"WindowHeight = 2147483647\r\n", ""},
        {"WindowWidth = 2147483647\r\n", ""},
        {"WindowWidth = -2147483649\r\n",
         "\r\n[Messages]\r\nTimer = 99999999999999999999\r\nMeasure = 300\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.common);
        s.writeConfig("ScreenRes = " + screen + "\r\n" + c.common, ".\\clients.xml", c.messages);
        auto p = s.start();
        terminate(*p);
        const std::string saved = readFile(s.work() / "srv_config.ini");
        EXPECT_EQ(iniValue(saved, "WindowWidth"), "455") << saved;
        EXPECT_LT(std::stol(iniValue(saved, "WindowHeight")), 1000) << saved;
        EXPECT_EQ(iniValue(saved, "Timer"), "5") << saved;
        EXPECT_EQ(iniValue(saved, "Measure"), "1") << saved;
        EXPECT_EQ(iniValue(saved, "PortListen"), std::to_string(s.port())) << saved;
    }
}

TEST(ServerProcess, DeeplyNestedDatabaseIsRefusedWithTheElementAndLine) {
    Server s;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root config=\"3.1\">\n";
    for (int i = 0; i < 100000; ++i) xml += "<group name=\"g\">\n";
    for (int i = 0; i < 100000; ++i) xml += "</group>\n";
    xml += "</root>\n";
    writeFile(s.work() / "clients.xml", xml);
    const std::string config = readFile(s.work() / "srv_config.ini");

    const auto r =
        tw::test::run(tw::test::binPath("tellwick_server"), s.options(), std::chrono::seconds(60));
    EXPECT_EQ(r.code, 255) << r.err;
    // The 65th group opens on line 67 (the declaration and <root> come first).
    EXPECT_NE(r.err.find("Error: Error occured while parsing clients.xml:  <group> is nested "
                         "deeper than 64 levels\nLine 67, position 0"),
              std::string::npos)
        << r.err.substr(0, 400);
    EXPECT_EQ(readFile(s.work() / "clients.xml"), xml);
    EXPECT_EQ(readFile(s.work() / "srv_config.ini"), config);
}

TEST(ServerProcess, OversizedTemplatesFileIsNeitherReadNorReplaced) {
    Server s;
    writeFile(s.work() / "clients.xml", kSmallClients);
    const fs::path templates = s.work() / "templates.ini";
    writeFile(templates, std::string(kBom) + "\r\n[Huge]\r\n1 = ");
    constexpr std::uintmax_t kSize = 200u << 20;
    fs::resize_file(templates, kSize);  // sparse: 200 MB of template text without the disk

    const auto started = std::chrono::steady_clock::now();
    auto p = s.start();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    terminate(*p);
    EXPECT_EQ(fs::file_size(templates), kSize);
    EXPECT_EQ(iniValue(readFile(s.work() / "srv_config.ini"), "PortListen"),
              std::to_string(s.port()));
}

TEST(ServerProcess, SettingsThatCannotBeWrittenAreReportedAndTheFileStays) {
    Server s;
    writeFile(s.work() / "clients.xml", kSmallClients);
    auto p = s.start();
    // Replaced by a folder of that name while the server runs.
    fs::remove(s.work() / "srv_config.ini");
    fs::create_directory(s.work() / "srv_config.ini");
    writeFile(s.work() / "srv_config.ini" / "inside", "x");
    terminate(*p);
    EXPECT_NE(p->err().find("Error: Can't save the settings to srv_config.ini. The file was left "
                            "as it was; the changes made in this session are lost.\n"),
              std::string::npos)
        << p->err();
    EXPECT_EQ(readFile(s.work() / "srv_config.ini" / "inside"), "x");
}

TEST(ServerProcess, HeaderCutByATruncatedFileIsWrittenWholeAndKeepsItsKeys) {
    Server s;
    writeFile(s.work() / "clients.xml", kSmallClients);
    writeFile(s.work() / "srv_config.ini",
              std::string(kBom) + "[Common]\r\nLanguage = EN\r\n\r\n[Network\r\nPortListen = " +
                  std::to_string(s.port()) + "\r\nProtoUseTCP = 1\r\n");
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        auto p = s.start();  // waits until the server listens on the configured port
        terminate(*p);
        const std::string saved = readFile(s.work() / "srv_config.ini");
        EXPECT_NE(saved.find("\r\n[Network]\r\n"), std::string::npos) << saved;
        EXPECT_EQ(saved.find("[Network\r\n"), std::string::npos) << saved;
        EXPECT_EQ(iniValue(saved, "PortListen"), std::to_string(s.port())) << saved;
    }
}

}  // namespace

// A key named in [Security] that cannot be used stops the start with the error box naming
// the file and its fault; good keys start the server and stay in the settings it writes back.
TEST(ServerProcess, KeyFilesAreCheckedAtStartUp) {
    Server s;
    writeFile(s.work() / "clients.xml", kSmallClients);
    fs::create_directory(s.work() / "keys");
    ASSERT_EQ(tw::auth::generateKeys(s.work() / "keys"), "");
    fs::copy_file(s.work() / "keys" / "office.key", s.work() / "open.key");
    fs::permissions(s.work() / "open.key", fs::perms::owner_read | fs::perms::owner_write |
                                               fs::perms::group_read | fs::perms::others_read);
    const struct {
        const char* what;
        std::string security;
        std::vector<std::string> errors;
    } cases[] = {
        {"missing signing key",
         "SigningKey = .\\keys\\nothing.key\r\n",
         {"./keys/nothing.key: the key file is missing"}},
        {"public key as signing key, office key open to all",
         "SigningKey = keys/operator.pub\r\nOfficeKey = open.key\r\n",
         {"keys/operator.pub: a key of the wrong kind",
          "open.key: the secret key is readable by others"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        s.writeConfig("", ".\\clients.xml", "\r\n[Security]\r\n" + c.security);
        const auto r = tw::test::run(tw::test::binPath("tellwick_server"), s.options());
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
        for (const auto& e : c.errors) EXPECT_NE(r.err.find(e), std::string::npos) << r.err;
    }
    {
        SCOPED_TRACE("a Russian server says it in Russian");
        s.writeConfig("", ".\\clients.xml",
                      "\r\n[Security]\r\nSigningKey = keys/operator.pub\r\n"
                      "OfficeKey = keys/nothing.key\r\n");
        std::string config = readFile(s.work() / "srv_config.ini");
        config.replace(config.find("Language = EN"), 13, "Language = RU");
        writeFile(s.work() / "srv_config.ini", config);
        const auto r = tw::test::run(tw::test::binPath("tellwick_server"), s.options());
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(r.err.rfind("Ошибка: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("keys/operator.pub: ключ не того вида (TELLWICK OPERATOR PUBLIC KEY, "
                             "а нужен TELLWICK OPERATOR SECRET KEY)"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("keys/nothing.key: файл ключа не найден"), std::string::npos) << r.err;
    }

    s.writeConfig("", ".\\clients.xml",
                  "\r\n[Security]\r\nSigningKey = .\\keys\\operator.key\r\n"
                  "OfficeKey = keys/office.key\r\nMaxClockSkew = 60\r\n");
    auto running = s.start();
    running->signal(SIGTERM);
    EXPECT_EQ(running->wait(), 0) << running->err();
    const std::string saved = readFile(s.work() / "srv_config.ini");
    EXPECT_EQ(iniValue(saved, "SigningKey"), ".\\keys\\operator.key");
    EXPECT_EQ(iniValue(saved, "MaxClockSkew"), "60");
}
