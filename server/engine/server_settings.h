#pragma once
// The one owner of the server's settings while it runs. The window, the settings dialog and
// the engine all go through it: writers use the setters, readers take a snapshot, and
// changed() tells whoever shows a setting that it must look again. Any thread may read; the
// setters are the window thread's.
#include <QObject>
#include <cstdint>
#include <mutex>

#include "server/data/config.h"

namespace tw::server {

class ServerSettings : public QObject {
    Q_OBJECT
public:
    explicit ServerSettings(ServerConfig initial = {}, QObject* parent = nullptr);

    // A consistent copy of the whole record, from any thread.
    ServerConfig snapshot() const;

    // The record as a whole, e.g. as loaded at start-up.
    void replace(const ServerConfig& config);

    // The waiting time of a mailing (Timer in the unit of Measure).
    void setTimer(std::int32_t timer);
    void setMeasure(TimeUnit measure);
    // Broadcast mode (0 unicast, 1 broadcast) and the broadcast address.
    void setBroadcast(std::uint8_t mode, const QString& address);
    // What a scan writes as caption and as address (0 IP address, 1 NetBIOS name, 2 FQDN).
    void setScanFormats(std::uint8_t nameFormat, std::uint8_t valueFormat);
    void setWarningMask(std::uint8_t mask);
    // The clients database as the settings name it (Clients).
    void setClientsFile(const QString& path);

signals:
    // Emitted after a setter or replace() stored a value that differs from the one before.
    void changed();

private:
    // Applies `edit` under the lock and announces the change (outside the lock) if it made one.
    template <class Edit>
    void update(Edit edit);

    mutable std::mutex mutex_;  // held only to copy or change the record
    ServerConfig config_;
};

}  // namespace tw::server
