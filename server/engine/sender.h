#pragma once
// The sender thread: one pass over the checked clients for a mailing or a check probe, or the
// one broadcast datagram of a broadcast mailing, a broadcast check or a discovery probe.
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "common/auth.h"
#include "common/packets.h"

namespace tw::server::engine {

struct Core;

// Shared by the window thread and one pass. Stopping is cooperative: the pass looks at the
// flag before each client and after each attempt, and never holds the clients lock while it
// connects or sends.
struct PassToken {
    std::atomic<bool> stopped{false};
    std::atomic<bool> finished{false};

    // Any thread: the pass starts no further attempt and abandons those in flight.
    void stop() {
        stopped = true;
        std::lock_guard lock(wakeMutex);
        if (wake) wake();
    }
    // The pass names what wakes it from a network wait (empty to forget it).
    void setWake(std::function<void()> f) {
        std::lock_guard lock(wakeMutex);
        wake = std::move(f);
    }

private:
    std::mutex wakeMutex;  // held only to call or change `wake`, which never blocks
    std::function<void()> wake;
};

struct PassJob {
    MessagePacket packet;  // filled by the window thread; the pass writes MsgGUID per client
    bool broadcastMode = false;
    QString broadcastIp;
    bool tcp = false;
    int port = 0;
    std::chrono::milliseconds connectTimeout{5000};
    std::size_t tcpInFlight = 256;        // connection attempts under way at once, at least 1
    std::uint64_t listGeneration = 0;     // the list the pass was started on
    auth::Signer* signer = nullptr;       // set: every packet carries its own signature
    std::size_t signingBatch = 128;       // at least 1
};

void runPass(Core& core, PassJob job, std::shared_ptr<PassToken> token);

// A fresh GUID in registry text form without braces, upper case (36 characters).
QString newGuidText();

}  // namespace tw::server::engine
