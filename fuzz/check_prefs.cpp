#include <filesystem>
#include <fstream>
#include <set>
#include <utility>

#include "client/config.h"
#include "common/platform/file_io.h"
#include "common/prefs.h"
#include "fuzz/checks.h"
#include "server/data/config.h"
#include "server/data/templates.h"

namespace tw::fuzz {

namespace {

using server::ServerConfig;

constexpr server::DesktopSize kDesktop{1920, 1080};

bool sameConfig(const ServerConfig& a, const ServerConfig& b) {
    return a.UseEventLogger == b.UseEventLogger && a.Timer == b.Timer && a.Measure == b.Measure &&
           a.Broadcast == b.Broadcast && a.Broadcast_IP == b.Broadcast_IP &&
           a.ProtoUseTCP == b.ProtoUseTCP && a.PortListen == b.PortListen &&
           a.PortSender == b.PortSender && a.Clients == b.Clients && a.Templates == b.Templates &&
           a.SaveFormatName == b.SaveFormatName && a.SaveFormatValue == b.SaveFormatValue &&
           a.WarningMask == b.WarningMask && a.WindowPosX == b.WindowPosX &&
           a.WindowPosY == b.WindowPosY && a.WindowHeight == b.WindowHeight &&
           a.WindowWidth == b.WindowWidth && a.SplitterHoriz == b.SplitterHoriz &&
           a.SplitterVertc == b.SplitterVertc;
}

// Keys the server writes or removes; every other entry is someone else's and must survive.
bool ownedByServer(const std::string& group, const std::string& key) {
    static const std::set<std::pair<std::string, std::string>> kOwned = {
        {"Common", "Language"},        {"Common", "UseEventLogger"},   {"Common", "WarningMask"},
        {"Common", "ScreenRes"},       {"Common", "WindowPosX"},       {"Common", "WindowPosY"},
        {"Common", "WindowWidth"},     {"Common", "WindowHeight"},     {"Common", "SplitterHoriz"},
        {"Common", "SplitterVertc"},   {"Network", "Broadcast"},       {"Network", "Broadcast_IP"},
        {"Network", "ProtoUseTCP"},    {"Network", "PortListen"},      {"Network", "PortSender"},
        {"Paths", "Clients"},          {"Paths", "Templates"},         {"Messages", "Broadcast"},
        {"Messages", "Broadcast_IP"},  {"Messages", "Timer"},          {"Messages", "Measure"},
        {"Scanner", "SaveFormatName"}, {"Scanner", "SaveFormatValue"},
    };
    return kOwned.count({group, key}) > 0;
}

std::string checkServerConfig(const prefs::PrefsFile& original) {
    ServerConfig used;
    server::InterfaceTexts texts;
    server::readConfiguration(original, used, texts, kDesktop, nullptr);

    prefs::PrefsFile file = original;
    server::writeConfiguration(file, used, texts.language(), kDesktop, server::geometryOf(used));
    prefs::WriteStyle style;
    const std::string written = file.serialize(style);

    prefs::PrefsFile reread;
    reread.parse(written);
    ServerConfig back;
    server::InterfaceTexts backTexts;
    server::readConfiguration(reread, back, backTexts, kDesktop, nullptr);
    if (!sameConfig(used, back)) return "srv_config.ini does not read back to the values in use";
    if (backTexts.language() != texts.language()) return "srv_config.ini lost the language";

    // Entries the program does not own keep their values (the first of a name is the one read).
    const auto groups = original.groupNames();
    std::set<std::string> seenGroups;
    for (std::size_t i = 0; i <= groups.size(); ++i) {
        const std::string group = i == 0 ? std::string() : groups[i - 1];
        if (!seenGroups.insert(group).second) continue;
        for (const auto& e : original.entries(group)) {
            if (ownedByServer(group, e.key)) continue;
            if (original.find(group, e.key) != reread.find(group, e.key))
                return "srv_config.ini lost the foreign entry [" + group + "] " + e.key;
        }
    }
    // Written twice, the file does not change any more.
    prefs::PrefsFile twice = reread;
    server::writeConfiguration(twice, back, backTexts.language(), kDesktop,
                               server::geometryOf(back));
    if (twice.serialize(style) != written) return "srv_config.ini changes on every save";
    return {};
}

std::string checkTemplates(const prefs::PrefsFile& original) {
    const server::TemplatesList loaded = server::templatesOf(original);
    prefs::PrefsFile file = original;
    std::set<QString> written;
    for (const auto& t : loaded) {
        // SaveTemplate updates the first template of a name; names the file cannot hold are
        // refused there.
        if (!server::templateNameFits(t.name) || !written.insert(t.name).second) continue;
        server::putTemplate(file, t.name, t.text);
    }
    prefs::WriteStyle style;
    style.blankLineAfterMark = true;
    prefs::PrefsFile reread;
    reread.parse(file.serialize(style));
    const server::TemplatesList back = server::templatesOf(reread);
    if (back.size() != loaded.size()) return "templates.ini gained or lost templates";
    for (std::size_t i = 0; i < back.size(); ++i)
        if (back[i].name != loaded[i].name || back[i].text != loaded[i].text)
            return "templates.ini does not read back to the templates in use";
    return {};
}

// The client reads its file by name: one scratch file per fuzzing process.
std::string checkClientConfig(Bytes input) {
    // In memory where the system offers a folder for it: a disk would make this the slowest
    // part of the check.
    static const std::filesystem::path file = [] {
        std::error_code ec;
        const std::filesystem::path shm = "/dev/shm";
        const auto folder =
            std::filesystem::is_directory(shm, ec) ? shm : std::filesystem::temp_directory_path();
        return folder /
               ("tellwick-fuzz-" + std::to_string(platform::processId()) + "-cln_config.ini");
    }();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(input.data()),
                  static_cast<std::streamsize>(input.size()));
    }
    const client::ClientConfig c = client::readClientConfig(file);
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (c.portListen < -1 || c.portListen > 1'000'000 || c.portSender < -1 ||
        c.portSender > 1'000'000)
        return "a client port wrapped round";
    return {};
}

}  // namespace

std::string checkPrefs(Bytes input) {
    const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
    prefs::PrefsFile file;
    file.parse(text);
    // The text a file becomes reads back to the same document (every program writes the mark).
    for (const bool blankLine : {false, true}) {
        prefs::WriteStyle style;
        style.blankLineAfterMark = blankLine;
        prefs::PrefsFile again;
        again.parse(file.serialize(style));
        if (again.groupNames() != file.groupNames()) return "the groups changed on rewriting";
        for (std::size_t i = 0; i <= file.groupNames().size(); ++i) {
            const auto a = i == 0 ? file.entries("") : file.entriesAt(i - 1);
            const auto b = i == 0 ? again.entries("") : again.entriesAt(i - 1);
            if (a.size() != b.size()) return "entries changed on rewriting";
            for (std::size_t k = 0; k < a.size(); ++k)
                if (a[k].key != b[k].key || a[k].value != b[k].value)
                    return "an entry changed on rewriting";
        }
    }
    if (auto p = checkServerConfig(file); !p.empty()) return p;
    if (auto p = checkTemplates(file); !p.empty()) return p;
    return checkClientConfig(input);
}

}  // namespace tw::fuzz
