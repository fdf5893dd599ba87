#include "server/engine/server_settings.h"

#include <utility>

namespace tw::server {

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
        differs = next != config_;
        config_ = std::move(next);
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
