#include "server/engine/server_settings.h"

#include <utility>

namespace tw::server {

namespace {

// Everything the file holds; the window geometry counts too, since it is saved with the rest.
bool same(const ServerConfig& a, const ServerConfig& b) {
    return a.UseEventLogger == b.UseEventLogger && a.Timer == b.Timer && a.Measure == b.Measure &&
           a.Broadcast == b.Broadcast && a.Broadcast_IP == b.Broadcast_IP &&
           a.ProtoUseTCP == b.ProtoUseTCP && a.PortListen == b.PortListen &&
           a.PortSender == b.PortSender && a.Clients == b.Clients && a.Templates == b.Templates &&
           a.SaveFormatName == b.SaveFormatName && a.SaveFormatValue == b.SaveFormatValue &&
           a.WarningMask == b.WarningMask && a.WindowPosX == b.WindowPosX &&
           a.WindowPosY == b.WindowPosY && a.WindowHeight == b.WindowHeight &&
           a.WindowWidth == b.WindowWidth && a.SplitterHoriz == b.SplitterHoriz &&
           a.SplitterVertc == b.SplitterVertc && a.SigningKey == b.SigningKey &&
           a.OfficeKey == b.OfficeKey && a.MaxClockSkew == b.MaxClockSkew;
}

}  // namespace

ServerSettings::ServerSettings(ServerConfig initial, QObject* parent)
    : QObject(parent), config_(std::move(initial)) {}

ServerConfig ServerSettings::snapshot() const {
    std::lock_guard lock(mutex_);
    return config_;
}

template <class Edit>
void ServerSettings::update(Edit edit) {
    bool differs = false;
    {
        std::lock_guard lock(mutex_);
        ServerConfig next = config_;
        edit(next);
        differs = !same(next, config_);
        if (differs) config_ = std::move(next);
    }
    if (differs) emit changed();
}

void ServerSettings::replace(const ServerConfig& config) {
    update([&](ServerConfig& c) { c = config; });
}

void ServerSettings::setTimer(std::int32_t timer) {
    update([&](ServerConfig& c) { c.Timer = timer; });
}

void ServerSettings::setMeasure(TimeUnit measure) {
    update([&](ServerConfig& c) { c.Measure = measure; });
}

void ServerSettings::setBroadcast(std::uint8_t mode, const QString& address) {
    update([&](ServerConfig& c) {
        c.Broadcast = mode;
        c.Broadcast_IP = address;
    });
}

void ServerSettings::setScanFormats(std::uint8_t nameFormat, std::uint8_t valueFormat) {
    update([&](ServerConfig& c) {
        c.SaveFormatName = nameFormat;
        c.SaveFormatValue = valueFormat;
    });
}

void ServerSettings::setWarningMask(std::uint8_t mask) {
    update([&](ServerConfig& c) { c.WarningMask = mask; });
}

void ServerSettings::setClientsFile(const QString& path) {
    update([&](ServerConfig& c) { c.Clients = path; });
}

}  // namespace tw::server
