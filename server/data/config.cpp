#include "server/data/config.h"

#include <system_error>

#include "common/prefs.h"

namespace tw::server {

namespace fs = std::filesystem;

namespace {

QString screenRes(DesktopSize d) {
    return QString::number(d.width) + u'*' + QString::number(d.height);
}

QString readText(const prefs::PrefsFile& p, const char* group, const char* key,
                 const QString& def) {
    const auto v = p.find(group, key);
    return v ? QString::fromStdString(*v) : def;
}

std::int32_t readInt(const prefs::PrefsFile& p, const char* group, const char* key,
                     std::int32_t def) {
    return static_cast<std::int32_t>(p.getInt(group, key, def));
}

// Byte fields keep the low 8 bits of whatever number the file holds.
std::uint8_t readByte(const prefs::PrefsFile& p, const char* group, const char* key,
                      std::uint8_t def) {
    return static_cast<std::uint8_t>(p.getInt(group, key, def) & 0xFF);
}

void resetGeometry(ServerConfig& c) {
    const ServerConfig defaults;
    c.WindowPosX = defaults.WindowPosX;
    c.WindowPosY = defaults.WindowPosY;
    c.WindowWidth = defaults.WindowWidth;
    c.WindowHeight = defaults.WindowHeight;
    c.SplitterHoriz = defaults.SplitterHoriz;
    c.SplitterVertc = defaults.SplitterVertc;
}

}  // namespace

void MigrateConfigFile(const fs::path& baseDir) {
    std::error_code ec;
    const fs::path oldFile = baseDir / kOldConfigFileName;
    const fs::path newFile = baseDir / kConfigFileName;
    if (fs::exists(oldFile, ec) && !fs::exists(newFile, ec)) fs::rename(oldFile, newFile, ec);
}

void LoadConfiguration(ServerConfig& config, InterfaceTexts& texts, const fs::path& baseDir,
                       DesktopSize desktop, Notifier* notifier) {
    prefs::PrefsFile p;
    if (!p.load(baseDir / kConfigFileName)) {
        config = ServerConfig{};
        texts.setLanguage(QStringLiteral("RU"), config.PortListen, notifier);
        resetGeometry(config);
        return;
    }
    const ServerConfig d;
    config.SaveFormatName = readByte(p, "Scanner", "SaveFormatName", d.SaveFormatName);
    config.SaveFormatValue = readByte(p, "Scanner", "SaveFormatValue", d.SaveFormatValue);

    config.ProtoUseTCP = readByte(p, "Network", "ProtoUseTCP", d.ProtoUseTCP);
    config.PortListen = readInt(p, "Network", "PortListen", d.PortListen);
    config.PortSender = readInt(p, "Network", "PortSender", d.PortSender);
    config.Broadcast = readByte(p, "Network", "Broadcast", d.Broadcast);
    config.Broadcast_IP = readText(p, "Network", "Broadcast_IP", d.Broadcast_IP);

    // A file without the key comes from the version that kept clients in clients.ini.
    config.Clients = readText(p, "Paths", "Clients", QStringLiteral(".\\clients.ini"));
    config.Templates = readText(p, "Paths", "Templates", d.Templates);

    config.Timer = readInt(p, "Messages", "Timer", d.Timer);
    config.Measure = readByte(p, "Messages", "Measure", d.Measure);

    texts.setLanguage(readText(p, "Common", "Language", QStringLiteral("RU")), config.PortListen,
                      notifier);
    config.UseEventLogger = readByte(p, "Common", "UseEventLogger", d.UseEventLogger);
    config.WarningMask = readByte(p, "Common", "WarningMask", d.WarningMask);

    if (readText(p, "Common", "ScreenRes", QString()) == screenRes(desktop)) {
        config.WindowPosX = readInt(p, "Common", "WindowPosX", d.WindowPosX);
        config.WindowPosY = readInt(p, "Common", "WindowPosY", d.WindowPosY);
        config.WindowWidth = readInt(p, "Common", "WindowWidth", d.WindowWidth);
        config.WindowHeight = readInt(p, "Common", "WindowHeight", d.WindowHeight);
        config.SplitterHoriz = readInt(p, "Common", "SplitterHoriz", d.SplitterHoriz);
        config.SplitterVertc = readInt(p, "Common", "SplitterVertc", d.SplitterVertc);
    } else {
        resetGeometry(config);
    }
}

bool SaveConfiguration(const ServerConfig& c, const QString& language, const fs::path& baseDir,
                       DesktopSize desktop, const WindowGeometry& g) {
    const fs::path file = baseDir / kConfigFileName;
    prefs::PrefsFile p;
    std::error_code ec;
    // A file that exists but cannot be read is left alone rather than replaced by one that
    // lost its unknown lines.
    if (!p.load(file) && fs::exists(file, ec)) return false;

    const auto text = [](const QString& s) { return s.toStdString(); };
    p.setString("Common", "Language", text(language));
    p.setInt("Common", "UseEventLogger", c.UseEventLogger);
    p.setInt("Common", "WarningMask", c.WarningMask);
    p.setString("Common", "ScreenRes", text(screenRes(desktop)));
    p.setInt("Common", "WindowPosX", g.x);
    p.setInt("Common", "WindowPosY", g.y);
    p.setInt("Common", "WindowWidth", g.width);
    p.setInt("Common", "WindowHeight", g.height);
    p.setInt("Common", "SplitterHoriz", g.splitterHoriz);
    p.setInt("Common", "SplitterVertc", g.splitterVertc);

    p.setInt("Network", "Broadcast", c.Broadcast);
    p.setString("Network", "Broadcast_IP", text(c.Broadcast_IP));
    p.setInt("Network", "ProtoUseTCP", c.ProtoUseTCP);
    p.setInt("Network", "PortListen", c.PortListen);
    p.setInt("Network", "PortSender", c.PortSender);

    p.setString("Paths", "Clients", text(c.Clients));
    p.setString("Paths", "Templates", text(c.Templates));

    // Older versions kept the broadcast keys here.
    p.removeKey("Messages", "Broadcast");
    p.removeKey("Messages", "Broadcast_IP");
    p.setInt("Messages", "Timer", c.Timer);
    p.setInt("Messages", "Measure", c.Measure);

    p.setInt("Scanner", "SaveFormatName", c.SaveFormatName);
    p.setInt("Scanner", "SaveFormatValue", c.SaveFormatValue);

    prefs::WriteStyle style;
    style.byteOrderMark = true;
    style.blankLineAfterMark = false;  // the first header follows the mark directly
    return p.save(file, style);
}

WindowGeometry geometryOf(const ServerConfig& c) {
    return WindowGeometry{c.WindowPosX,   c.WindowPosY,    c.WindowWidth,
                          c.WindowHeight, c.SplitterHoriz, c.SplitterVertc};
}

}  // namespace tw::server
