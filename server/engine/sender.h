#pragma once
// The sender thread: one pass over the checked clients for a mailing or a check probe, or the
// one broadcast datagram of a broadcast mailing, a broadcast check or a discovery probe.
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "common/packets.h"

namespace tw::server::engine {

struct Core;

// Shared by the window thread and one pass. Stopping is cooperative: the pass looks at the
// flag before each client and after each attempt, and never holds the clients lock while it
// connects or sends.
struct PassToken {
    std::atomic<bool> stopped{false};
    std::atomic<bool> finished{false};
};

struct PassJob {
    MessagePacket packet;  // filled by the window thread; the pass writes MsgGUID per client
    bool broadcastMode = false;
    QString broadcastIp;
    bool tcp = false;
    int port = 0;
    std::chrono::milliseconds connectTimeout{5000};
    std::uint64_t listGeneration = 0;  // the list the pass was started on
};

void runPass(Core& core, PassJob job, std::shared_ptr<PassToken> token);

// A fresh GUID in registry text form without braces, upper case (36 characters).
QString newGuidText();

}  // namespace tw::server::engine
