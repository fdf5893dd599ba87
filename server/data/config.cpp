#include "server/data/config.h"

#include <limits>
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
    return v ? fromFileText(*v) : def;
}

// A number outside [lo, hi] is treated like a missing key: cut to the field's width it would
// turn into some unrelated value (2147483648 into -2147483648).
std::int32_t readInt(const prefs::PrefsFile& p, const char* group, const char* key,
                     std::int32_t def, std::int64_t lo = std::numeric_limits<std::int32_t>::min(),
                     std::int64_t hi = std::numeric_limits<std::int32_t>::max()) {
    const std::int64_t v = p.getInt(group, key, def);
    return v < lo || v > hi ? def : static_cast<std::int32_t>(v);
}

std::uint8_t readByte(const prefs::PrefsFile& p, const char* group, const char* key,
                      std::uint8_t def) {
    return static_cast<std::uint8_t>(readInt(p, group, key, def, 0, 255));
}

// Window edges and splitter positions beyond this are no screen's; -65535 is the "keep as
// opened" mark.
constexpr std::int64_t kMaxCoordinate = 65535;

// A window can be dragged somewhat beyond the desktop, but one of more than twice its size was
// never saved from it; such a size would make the program allocate a window of gigabytes.
std::int64_t maxWindowExtent(int desktopExtent) {
    return desktopExtent > 0 ? 2 * static_cast<std::int64_t>(desktopExtent) : kMaxCoordinate;
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
    readConfiguration(p, config, texts, desktop, notifier);
}

void readConfiguration(const prefs::PrefsFile& p, ServerConfig& config, InterfaceTexts& texts,
                       DesktopSize desktop, Notifier* notifier) {
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

    config.SigningKey = readText(p, "Security", "SigningKey", d.SigningKey);
    config.OfficeKey = readText(p, "Security", "OfficeKey", d.OfficeKey);
    // No skew at all would refuse every report that took a millisecond; a negative one, all.
    config.MaxClockSkew = readInt(p, "Security", "MaxClockSkew", d.MaxClockSkew, 1);

    config.Timer = readInt(p, "Messages", "Timer", d.Timer);
    config.Measure = static_cast<TimeUnit>(
        readByte(p, "Messages", "Measure", static_cast<std::uint8_t>(d.Measure)));

    texts.setLanguage(readText(p, "Common", "Language", QStringLiteral("RU")), config.PortListen,
                      notifier);
    config.UseEventLogger = readByte(p, "Common", "UseEventLogger", d.UseEventLogger);
    config.WarningMask = readByte(p, "Common", "WarningMask", d.WarningMask);

    if (readText(p, "Common", "ScreenRes", QString()) == screenRes(desktop)) {
        const auto edge = [&](const char* key, std::int32_t def) {
            return readInt(p, "Common", key, def, -kMaxCoordinate, kMaxCoordinate);
        };
        const auto extent = [&](const char* key, std::int32_t def, int desktopExtent) {
            return readInt(p, "Common", key, def, 0, maxWindowExtent(desktopExtent));
        };
        config.WindowPosX = edge("WindowPosX", d.WindowPosX);
        config.WindowPosY = edge("WindowPosY", d.WindowPosY);
        config.WindowWidth = extent("WindowWidth", d.WindowWidth, desktop.width);
        config.WindowHeight = extent("WindowHeight", d.WindowHeight, desktop.height);
        config.SplitterHoriz = extent("SplitterHoriz", d.SplitterHoriz, 0);
        config.SplitterVertc = extent("SplitterVertc", d.SplitterVertc, 0);
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
    writeConfiguration(p, c, language, desktop, g);
    prefs::WriteStyle style;
    style.byteOrderMark = true;
    style.blankLineAfterMark = false;  // the first header follows the mark directly
    return p.save(file, style);
}

void writeConfiguration(prefs::PrefsFile& p, const ServerConfig& c, const QString& language,
                        DesktopSize desktop, const WindowGeometry& g) {
    const auto text = [](const QString& s) { return toFileText(s); };
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
    p.setInt("Messages", "Measure", static_cast<std::uint8_t>(c.Measure));

    p.setInt("Scanner", "SaveFormatName", c.SaveFormatName);
    p.setInt("Scanner", "SaveFormatValue", c.SaveFormatValue);

    // A server that never had a key keeps the file it always wrote; once the group is there,
    // or a key is set, it is written like every other group.
    const ServerConfig d;
    if (p.hasGroup("Security") || c.SigningKey != d.SigningKey || c.OfficeKey != d.OfficeKey ||
        c.MaxClockSkew != d.MaxClockSkew) {
        p.setString("Security", "SigningKey", text(c.SigningKey));
        p.setString("Security", "OfficeKey", text(c.OfficeKey));
        p.setInt("Security", "MaxClockSkew", c.MaxClockSkew);
    }
}

WindowGeometry geometryOf(const ServerConfig& c) {
    return WindowGeometry{c.WindowPosX,   c.WindowPosY,    c.WindowWidth,
                          c.WindowHeight, c.SplitterHoriz, c.SplitterVertc};
}

}  // namespace tw::server
