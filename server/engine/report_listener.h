#pragma once
// The report listener: one thread that watches PortListen over UDP and TCP, matches delivery,
// confirmation and check reports to client records, and hands presence answers to the
// scanner.
#include <thread>
#include <vector>

#include "common/net_async.h"

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
    bool running() const { return thread_.joinable(); }

    // Handles received reports as the thread does (debug lines, matching, presence answers).
    // Public so that the matching benchmark measures the real path.
    void handle(std::vector<net::Received>& batch);

private:
    void run();

    Core& core_;
    net::PacketReceiver receiver_;
    std::thread thread_;
};

}  // namespace tw::server::engine
