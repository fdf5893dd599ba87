#pragma once
// The server's settings record and its file srv_config.ini in the start-up folder.
#include <QString>
#include <cstdint>
#include <filesystem>

#include "server/data/texts.h"

namespace tw::prefs {
class PrefsFile;
}

namespace tw::server {

inline constexpr char kConfigFileName[] = "srv_config.ini";
inline constexpr char kOldConfigFileName[] = "config.ini";
inline constexpr std::int32_t kKeepWindowEdge = -65535;  // leave the coordinate as opened

// The unit of the waiting time (Measure). The file may hold another number; it is kept as
// it is, and a mailing then keeps the waiting time it had.
enum class TimeUnit : std::uint8_t { Seconds = 0, Minutes = 1, Hours = 2 };

// Fields are named by their keys in the file. The defaults are those of a start without any
// file; LoadConfiguration applies the defaults for missing keys.
struct ServerConfig {
    bool operator==(const ServerConfig&) const = default;

    std::uint8_t UseEventLogger = 1;
    std::int32_t Timer = 5;
    TimeUnit Measure = TimeUnit::Minutes;
    std::uint8_t Broadcast = 0;
    QString Broadcast_IP = QStringLiteral("0.0.0.0");
    std::uint8_t ProtoUseTCP = 0;
    std::int32_t PortListen = 47128;
    std::int32_t PortSender = 47127;
    QString Clients = QStringLiteral(".\\clients.xml");  // as written; open via fromConfigPath
    QString Templates = QStringLiteral(".\\templates.ini");
    std::uint8_t SaveFormatName = 1;  // 0 IP address, 1 NetBIOS name, 2 FQDN
    std::uint8_t SaveFormatValue = 1;
    std::uint8_t WarningMask = 0;  // bit value 1: the UDP warning has been shown
    std::int32_t WindowPosX = kKeepWindowEdge;
    std::int32_t WindowPosY = kKeepWindowEdge;
    std::int32_t WindowHeight = 200;
    std::int32_t WindowWidth = 455;
    std::int32_t SplitterHoriz = 80;
    std::int32_t SplitterVertc = 260;
    // Group Security. Empty paths: nothing is signed and reports are taken as they come.
    QString SigningKey;               // operator.key: signs every packet the server sends
    QString OfficeKey;                // office.key: reports without its MAC change nothing
    std::int32_t MaxClockSkew = 600;  // seconds a report's time stamp may be off this clock
};

struct DesktopSize {
    int width = 0;
    int height = 0;
};

// The live geometry of the main window at close: position, inner size, splitter positions.
struct WindowGeometry {
    std::int32_t x = kKeepWindowEdge;
    std::int32_t y = kKeepWindowEdge;
    std::int32_t width = 455;
    std::int32_t height = 200;
    std::int32_t splitterHoriz = 80;
    std::int32_t splitterVertc = 260;
};

// Takes over config.ini as srv_config.ini when only the older file exists.
void MigrateConfigFile(const std::filesystem::path& baseDir);

// Fills `config` from <baseDir>/srv_config.ini and sets the language of `texts` (warning
// through `notifier`). A saved window geometry applies only when the file's ScreenRes equals
// `desktop`; otherwise the geometry fields get their defaults. A number the field cannot
// hold, or a window geometry no desktop of that size can show (a size beyond twice the
// desktop, an edge or splitter beyond 65535), takes the default, as a missing key does.
void LoadConfiguration(ServerConfig& config, InterfaceTexts& texts,
                       const std::filesystem::path& baseDir, DesktopSize desktop,
                       Notifier* notifier);

// Writes the record back, keeping every line of the file it does not own. `language` is the
// current code; the geometry is the window's live one. False when nothing could be written:
// a file that exists but cannot be read (or is no file) is left as it is, and so is the old
// file when the new one cannot be written; the caller tells the operator.
bool SaveConfiguration(const ServerConfig& config, const QString& language,
                       const std::filesystem::path& baseDir, DesktopSize desktop,
                       const WindowGeometry& geometry);

// The two halves of the above on a file already in memory: what LoadConfiguration reads
// from an existing file, and the changes SaveConfiguration makes before writing.
void readConfiguration(const prefs::PrefsFile& file, ServerConfig& config, InterfaceTexts& texts,
                       DesktopSize desktop, Notifier* notifier);
void writeConfiguration(prefs::PrefsFile& file, const ServerConfig& config, const QString& language,
                        DesktopSize desktop, const WindowGeometry& geometry);

// Window geometry of the record, for callers that have no live window.
WindowGeometry geometryOf(const ServerConfig& config);

}  // namespace tw::server
