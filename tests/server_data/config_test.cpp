#include "server/data/config.h"

#include <gtest/gtest.h>

#include <functional>

#include "recorder.h"
#include "tests/support/support.h"

namespace {

using namespace tw::server;
using tw::test::readFile;
using tw::test::RecordingNotifier;
using tw::test::TempDir;
using tw::test::writeFile;

const std::string kBom = "\xEF\xBB\xBF";
constexpr DesktopSize kDesktop{1920, 1080};

struct Loaded {
    ServerConfig config;
    InterfaceTexts texts;
    RecordingNotifier boxes;
};

// Loads from `dir`, after filling the record with junk so that every field must be set.
void load(const TempDir& dir, Loaded& out, DesktopSize desktop = kDesktop) {
    out.config.Timer = out.config.PortListen = out.config.WindowWidth = 12345;
    out.config.Clients = QStringLiteral("junk");
    MigrateConfigFile(dir.path());
    LoadConfiguration(out.config, out.texts, dir.path(), desktop, &out.boxes);
}

void save(const TempDir& dir, const Loaded& l, DesktopSize desktop = kDesktop) {
    ASSERT_TRUE(
        SaveConfiguration(l.config, l.texts.language(), dir.path(), desktop, geometryOf(l.config)));
}

TEST(Configuration, noFileGivesDefaultsAndFreshFileHasFixedLayout) {
    TempDir dir;
    Loaded l;
    load(dir, l);
    EXPECT_TRUE(l.boxes.boxes.empty());
    EXPECT_EQ(l.texts.language(), QStringLiteral("RU"));
    EXPECT_EQ(l.texts[Text::Ready], QStringLiteral("Готов к работе"));
    EXPECT_EQ(l.config.Clients, QStringLiteral(".\\clients.xml"));
    EXPECT_EQ(l.config.PortListen, 47128);
    EXPECT_EQ(l.config.Timer, 5);
    EXPECT_EQ(l.config.WindowWidth, 455);
    EXPECT_EQ(l.config.WindowPosX, -65535);

    save(dir, l);
    EXPECT_EQ(readFile(dir / "srv_config.ini"), kBom +
                                                    "[Common]\r\n"
                                                    "Language = RU\r\n"
                                                    "UseEventLogger = 1\r\n"
                                                    "WarningMask = 0\r\n"
                                                    "ScreenRes = 1920*1080\r\n"
                                                    "WindowPosX = -65535\r\n"
                                                    "WindowPosY = -65535\r\n"
                                                    "WindowWidth = 455\r\n"
                                                    "WindowHeight = 200\r\n"
                                                    "SplitterHoriz = 80\r\n"
                                                    "SplitterVertc = 260\r\n"
                                                    "\r\n"
                                                    "[Network]\r\n"
                                                    "Broadcast = 0\r\n"
                                                    "Broadcast_IP = 0.0.0.0\r\n"
                                                    "ProtoUseTCP = 0\r\n"
                                                    "PortListen = 47128\r\n"
                                                    "PortSender = 47127\r\n"
                                                    "\r\n"
                                                    "[Paths]\r\n"
                                                    "Clients = .\\clients.xml\r\n"
                                                    "Templates = .\\templates.ini\r\n"
                                                    "\r\n"
                                                    "[Messages]\r\n"
                                                    "Timer = 5\r\n"
                                                    "Measure = 1\r\n"
                                                    "\r\n"
                                                    "[Scanner]\r\n"
                                                    "SaveFormatName = 1\r\n"
                                                    "SaveFormatValue = 1\r\n");
}

TEST(Configuration, olderFileWithOnlyLanguage) {
    TempDir dir;
    writeFile(dir / "srv_config.ini", "[Common]\r\nLanguage = EN\r\n");
    Loaded l;
    load(dir, l);
    EXPECT_EQ(l.texts.language(), QStringLiteral("EN"));
    EXPECT_EQ(l.texts[Text::Ready], QStringLiteral("Ready"));
    EXPECT_EQ(l.config.Clients, QStringLiteral(".\\clients.ini"));
    EXPECT_EQ(l.config.Templates, QStringLiteral(".\\templates.ini"));
    EXPECT_EQ(l.config.PortListen, 47128);
    EXPECT_EQ(l.config.PortSender, 47127);
    EXPECT_EQ(l.config.Timer, 5);
    EXPECT_EQ(l.config.WindowWidth, 455);  // no ScreenRes: geometry reset
}

TEST(Configuration, languageCodes) {
    const struct {
        const char* inFile;
        const char* language;
        bool warned;
    } cases[] = {{"en", "EN", false},
                 {"EN", "EN", false},
                 {"ru", "RU", false},
                 {"DE", "RU", true},
                 {"", "RU", true}};
    for (const auto& c : cases) {
        TempDir dir;
        writeFile(dir / "srv_config.ini", std::string("[Common]\nLanguage = ") + c.inFile + "\n");
        Loaded l;
        load(dir, l);
        EXPECT_EQ(l.texts.language(), QString::fromUtf8(c.language)) << c.inFile;
        ASSERT_EQ(l.boxes.boxes.size(), c.warned ? 1u : 0u) << c.inFile;
        if (c.warned) {
            EXPECT_EQ(l.boxes.boxes[0].title, QStringLiteral("Warning"));
            EXPECT_EQ(l.boxes.boxes[0].text,
                      QStringLiteral("Incorrect language setting, only RU or EN are permissible.\n"
                                     "Application was launched with default 'RU' setting."));
            EXPECT_EQ(l.boxes.boxes[0].icon, tw::platform::BoxIcon::Warning);
        }
        save(dir, l);
        EXPECT_NE(
            readFile(dir / "srv_config.ini").find(std::string("Language = ") + c.language + "\r\n"),
            std::string::npos)
            << c.inFile;
    }
}

TEST(Configuration, valuesAsTheFileHoldsThem) {
    TempDir dir;
    writeFile(dir / "srv_config.ini",
              "[Network]\nPortListen = 50000\nPortSender = x\nProtoUseTCP = 257\n"
              "Broadcast_IP = 10.0.0.255\n"
              "[Messages]\nTimer = -3\nMeasure = 258\n"
              "[Common]\nLanguage = EN\nUseEventLogger = abc\nWarningMask = 1\n"
              "ScreenRes = 1920*1080\nWindowPosX = 10\nWindowPosY = 20\nWindowWidth = 800\n"
              "WindowHeight = 600\nSplitterHoriz = 90\nSplitterVertc = 300\n"
              "[Scanner]\nSaveFormatName = 2\nSaveFormatValue = 0\n");
    Loaded l;
    load(dir, l);
    const ServerConfig& c = l.config;
    EXPECT_EQ(c.PortListen, 50000);
    EXPECT_EQ(c.PortSender, 0);   // not a number
    EXPECT_EQ(c.ProtoUseTCP, 0);  // 257 does not fit a byte: the default
    EXPECT_EQ(c.Measure, TimeUnit::Minutes);  // 258 likewise
    EXPECT_EQ(c.Timer, -3);
    EXPECT_EQ(c.UseEventLogger, 0);
    EXPECT_EQ(c.WarningMask, 1);
    EXPECT_EQ(c.Broadcast_IP, QStringLiteral("10.0.0.255"));
    EXPECT_EQ(c.SaveFormatName, 2);
    EXPECT_EQ(c.SaveFormatValue, 0);
    EXPECT_EQ(c.WindowPosX, 10);
    EXPECT_EQ(c.WindowPosY, 20);
    EXPECT_EQ(c.WindowWidth, 800);
    EXPECT_EQ(c.WindowHeight, 600);
    EXPECT_EQ(c.SplitterHoriz, 90);
    EXPECT_EQ(c.SplitterVertc, 300);
    EXPECT_EQ(l.texts[Text::PortBusy], QStringLiteral("Can't open port 50000. Already busy?"));

    // The same geometry saved for another desktop size is not applied.
    Loaded other;
    load(dir, other, DesktopSize{1280, 1024});
    EXPECT_EQ(other.config.WindowPosX, -65535);
    EXPECT_EQ(other.config.WindowPosY, -65535);
    EXPECT_EQ(other.config.WindowWidth, 455);
    EXPECT_EQ(other.config.WindowHeight, 200);
    EXPECT_EQ(other.config.SplitterHoriz, 80);
    EXPECT_EQ(other.config.SplitterVertc, 260);
}

// A number the field cannot hold, or a geometry no window on this desktop can have, reads as
// a missing key would; the edge values themselves are kept.
TEST(Configuration, numbersOutOfRangeTakeTheDefault) {
    const struct {
        const char* line;  // in its group
        const char* group;
        std::function<std::int64_t(const ServerConfig&)> field;
        std::int64_t expected;
    } cases[] = {
        {"Timer = 99999999999999999999", "Messages", [](auto& c) { return c.Timer; }, 5},
        {"Timer = 2147483648", "Messages", [](auto& c) { return c.Timer; }, 5},
        {"Timer = -2147483648", "Messages", [](auto& c) { return c.Timer; }, -2147483648LL},
        {"Measure = 300", "Messages", [](auto& c) { return static_cast<int>(c.Measure); }, 1},
        {"Measure = 255", "Messages", [](auto& c) { return static_cast<int>(c.Measure); }, 255},
        {"Measure = -1", "Messages", [](auto& c) { return static_cast<int>(c.Measure); }, 1},
        {"PortListen = 4294967296", "Network", [](auto& c) { return c.PortListen; }, 47128},
        {"WindowWidth = 2147483647", "Common", [](auto& c) { return c.WindowWidth; }, 455},
        {"WindowWidth = -2147483649", "Common", [](auto& c) { return c.WindowWidth; }, 455},
        {"WindowWidth = 3840", "Common", [](auto& c) { return c.WindowWidth; }, 3840},
        {"WindowWidth = 3841", "Common", [](auto& c) { return c.WindowWidth; }, 455},
        {"WindowHeight = 2147483647", "Common", [](auto& c) { return c.WindowHeight; }, 200},
        {"WindowHeight = 2160", "Common", [](auto& c) { return c.WindowHeight; }, 2160},
        {"WindowPosX = -65535", "Common", [](auto& c) { return c.WindowPosX; }, -65535},
        {"WindowPosY = 65536", "Common", [](auto& c) { return c.WindowPosY; }, -65535},
        {"SplitterHoriz = -1", "Common", [](auto& c) { return c.SplitterHoriz; }, 80},
        {"SplitterVertc = 65536", "Common", [](auto& c) { return c.SplitterVertc; }, 260},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TempDir dir;
        const std::string group = c.group;
        writeFile(dir / "srv_config.ini", "[Common]\nScreenRes = 1920*1080\n" +
                                              (group == "Common" ? "" : "[" + group + "]\n") +
                                              c.line + "\n");
        Loaded l;
        load(dir, l);
        EXPECT_EQ(c.field(l.config), c.expected);
    }
}

// Qt's own conversions drop a leading U+FEFF; a value that begins with one (a file pasted
// together from others) is written back with it.
TEST(Configuration, valueBeginningWithAByteOrderMarkIsSavedAsRead) {
    TempDir dir;
    writeFile(dir / "srv_config.ini",
              kBom + "[Network]\r\nBroadcast_IP = \xEF\xBB\xBF 10.0.0.255\r\n");
    Loaded l;
    load(dir, l);
    EXPECT_EQ(l.config.Broadcast_IP, QChar(0xFEFF) + QStringLiteral(" 10.0.0.255"));
    save(dir, l);
    EXPECT_NE(readFile(dir / "srv_config.ini").find("Broadcast_IP = \xEF\xBB\xBF 10.0.0.255\r\n"),
              std::string::npos);
}

TEST(Configuration, migrationOfOlderFileName) {
    {
        TempDir dir;
        writeFile(dir / "config.ini", "[Network]\nPortListen = 40000\n");
        Loaded l;
        load(dir, l);
        EXPECT_EQ(l.config.PortListen, 40000);
        EXPECT_FALSE(std::filesystem::exists(dir / "config.ini"));
        EXPECT_TRUE(std::filesystem::exists(dir / "srv_config.ini"));
    }
    {
        TempDir dir;
        writeFile(dir / "config.ini", "[Network]\nPortListen = 40000\n");
        writeFile(dir / "srv_config.ini", "[Network]\nPortListen = 41000\n");
        Loaded l;
        load(dir, l);
        EXPECT_EQ(l.config.PortListen, 41000);
        EXPECT_EQ(readFile(dir / "config.ini"), "[Network]\nPortListen = 40000\n");
    }
}

TEST(Configuration, saveKeepsForeignLinesAndMovesBroadcastOutOfMessages) {
    TempDir dir;
    writeFile(dir / "srv_config.ini",
              kBom +
                  "\r\n[Common]\r\nLanguage = EN\r\n; keep this comment\r\nMyOwnKey = 42\r\n"
                  "[Messages]\r\nBroadcast = 1\r\nBroadcast_IP = 1.2.3.255\r\nTimer = 7\r\n");
    Loaded l;
    load(dir, l);
    EXPECT_EQ(l.config.Broadcast, 0);  // only group Network counts
    l.config.Broadcast = 1;
    const WindowGeometry live{5, 6, 700, 500, 100, 200};
    ASSERT_TRUE(SaveConfiguration(l.config, l.texts.language(), dir.path(), kDesktop, live));

    const std::string file = readFile(dir / "srv_config.ini");
    EXPECT_EQ(file.rfind(kBom + "[Common]\r\n", 0), 0u) << "no empty line after the mark";
    EXPECT_NE(file.find("; keep this comment\r\n"), std::string::npos);
    EXPECT_NE(file.find("MyOwnKey = 42\r\n"), std::string::npos);
    EXPECT_NE(file.find("[Messages]\r\nTimer = 7\r\nMeasure = 1\r\n"), std::string::npos) << file;
    EXPECT_NE(file.find("[Network]\r\nBroadcast = 1\r\nBroadcast_IP = 0.0.0.0\r\n"),
              std::string::npos);
    EXPECT_NE(file.find("WindowPosX = 5\r\nWindowPosY = 6\r\nWindowWidth = 700\r\n"
                        "WindowHeight = 500\r\nSplitterHoriz = 100\r\nSplitterVertc = 200\r\n"),
              std::string::npos);

    Loaded again;
    load(dir, again);
    EXPECT_EQ(again.config.Broadcast, 1);
    EXPECT_EQ(again.config.WindowWidth, 700);
}

TEST(Configuration, unreadableFileIsNotReplaced) {
    TempDir dir;
    std::filesystem::create_directory(dir / "srv_config.ini");
    Loaded l;
    load(dir, l);
    EXPECT_EQ(l.config.Clients, QStringLiteral(".\\clients.xml"));
    EXPECT_FALSE(SaveConfiguration(l.config, l.texts.language(), dir.path(), kDesktop,
                                   geometryOf(l.config)));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "srv_config.ini"));
}

TEST(InterfaceTexts, everyEntryInBothLanguages) {
    InterfaceTexts t;
    t.setLanguage(QStringLiteral("EN"), 47128, nullptr);
    EXPECT_EQ(t[Text::ErrorTitle], QStringLiteral("Error"));
    EXPECT_EQ(t[Text::Donate],
              QStringLiteral("Donate by ") + QString::fromUtf16(kDonationServiceName));
    EXPECT_EQ(t[Text::PortBusy], QStringLiteral("Can't open port 47128. Already busy?"));
    t.setLanguage(QStringLiteral("RU"), 47130, nullptr);
    EXPECT_EQ(t[Text::PortBusy], QStringLiteral("Не могу открыть порт 47130. Уже используется?"));
    EXPECT_EQ(t[Text::ClientsParseError], QStringLiteral("Ошибка в структуре clients.xml:"));
    for (int i = 0; i < static_cast<int>(Text::Count); ++i) {
        const auto id = static_cast<Text>(i);
        EXPECT_FALSE(InterfaceTexts::english(id).isEmpty()) << i;
        EXPECT_FALSE(InterfaceTexts::russian(id).isEmpty()) << i;
        EXPECT_EQ(t[id].startsWith(InterfaceTexts::russian(id)), true) << i;
    }
}

}  // namespace

TEST(Configuration, securityGroupIsReadAndWrittenBackOnlyWhereItIs) {
    TempDir dir;
    writeFile(dir / "srv_config.ini",
              "[Security]\r\nSigningKey = .\\keys\\operator.key\r\nOfficeKey = /etc/office.key\r\n"
              "MaxClockSkew = 120\r\nFutureKey = kept\r\n");
    Loaded l;
    load(dir, l);
    EXPECT_EQ(l.config.SigningKey, QStringLiteral(".\\keys\\operator.key"));
    EXPECT_EQ(l.config.OfficeKey, QStringLiteral("/etc/office.key"));
    EXPECT_EQ(l.config.MaxClockSkew, 120);
    l.config.MaxClockSkew = 30;
    save(dir, l);
    const std::string saved = readFile(dir / "srv_config.ini");
    EXPECT_NE(
        saved.find("[Security]\r\nSigningKey = .\\keys\\operator.key\r\n"
                   "OfficeKey = /etc/office.key\r\nMaxClockSkew = 30\r\nFutureKey = kept\r\n"),
        std::string::npos)
        << saved;

    // A skew no clock can keep to counts as missing.
    for (const char* skew : {"0", "-5", "abc", "4294967296"}) {
        writeFile(dir / "srv_config.ini", std::string("[Security]\nMaxClockSkew = ") + skew + "\n");
        Loaded m;
        load(dir, m);
        EXPECT_EQ(m.config.MaxClockSkew, 600) << skew;
        EXPECT_TRUE(m.config.SigningKey.isEmpty());
    }

    // An existing file without the group, and no key set: the group is not added (the file
    // stays as a server without keys always wrote it). A key set in memory brings it.
    TempDir plain;
    writeFile(plain / "srv_config.ini", "[Common]\r\nLanguage = EN\r\n");
    Loaded p;
    load(plain, p);
    save(plain, p);
    EXPECT_EQ(readFile(plain / "srv_config.ini").find("Security"), std::string::npos);
    p.config.OfficeKey = QStringLiteral("office.key");
    save(plain, p);
    EXPECT_NE(
        readFile(plain / "srv_config.ini")
            .find(
                "[Security]\r\nSigningKey = \r\nOfficeKey = office.key\r\nMaxClockSkew = 600\r\n"),
        std::string::npos);
}
