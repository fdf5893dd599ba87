#pragma once
// The report listener: one thread that watches PortListen over UDP and TCP, matches delivery,
// confirmation and check reports to client records, and hands presence answers to the
// scanner.
#include <QString>
#include <cstdint>
#include <vector>

#include "common/auth.h"
#include "common/net_async.h"
#include "server/data/clients.h"
#include "server/engine/worker.h"

namespace tw::server::engine {

struct Core;

class ReportListener {
public:
    explicit ReportListener(Core& core);
    ~ReportListener();

    // UDP first; when it fails the TCP port is not tried. False when either is unavailable.
    bool open(int port);
    void start();
    void stop();  // returns when the thread has ended
    bool running() const { return thread_.running(); }

    // Handles received reports as the thread does (debug lines, matching, presence answers).
    // Public so that the matching benchmark measures the real path.
    void handle(std::vector<net::Received>& batch);

private:
    void run();
    // With the lock held: `r` of the last mailing changed after its summary; `sink` gets
    // what the history and the event log must hear.
    template <class Sink>
    void noteLateReport(int index, const tw::server::ClientRecord& r, const QString& rootId,
                        Sink sink);

    Core& core_;
    net::PacketReceiver receiver_;
    auth::ReplayGuard replayGuard_;  // used by the thread that handles the reports only
    Worker thread_;                  // last: it stops and ends before the receiver goes
};

}  // namespace tw::server::engine
