#pragma once
// The client scanner's parts that run off the window thread: the hand-over of presence
// answers from the listener to the collector, and the collector that writes the new clients
// database from them.
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "common/packets.h"

namespace tw::server::engine {

struct Core;

// True when `address` cannot serve as broadcast address: its fourth dotted field is "0", or
// it is the limited broadcast 255.255.255.255.
bool unusableBroadcastAddress(const QString& address);

// Presence answers, handed over as copies. Only a running scan takes answers, and only those
// that carry its own probe's RootId, so answers of an earlier scan or of no scan at all never
// reach a database.
class PresenceQueue {
public:
    // A scan with probe `rootId` starts collecting; whatever was left from before is dropped.
    void open(const QString& rootId);
    // From the listener: keeps a copy when a scan with this RootId is collecting.
    void offer(const ReportPacket& answer);
    // From the collector: the next answer; waits while none is there and the scan goes on.
    // Empty once the scan has ended and every answer taken before its end was handed out.
    std::optional<ReportPacket> take();
    // The countdown ended (`quitting`: because the window closes).
    void stop(bool quitting);
    bool quitting() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<ReportPacket> answers_;
    std::u16string rootId_;
    bool open_ = false;
    bool quitting_ = false;
};

struct CollectorJob {
    QString clientsPath;          // the configured Clients value
    std::uint8_t nameFormat = 1;  // 0 address, 1 NetBIOS name, 2 FQDN
    std::uint8_t valueFormat = 1;
};

// The collector thread: gathers answers until the scan ends, writes the new database and,
// unless the window is closing, reloads the clients list from it.
void runCollector(Core& core, CollectorJob job);

}  // namespace tw::server::engine
