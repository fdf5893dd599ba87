#pragma once
// Reads every packet as it arrives, on a thread of its own that sleeps in the receiver until
// there is something to read, and hands the packets over to the window's thread.
#include <QObject>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/net.h"

namespace tw::net {
class PacketReceiver;
}

namespace tw::client {

using Clock = std::chrono::steady_clock;

class PacketPump {
public:
    // `onPackets` runs on the thread of `context`, with the packets in the order they were
    // read and the time they were taken from the network. `context` must outlive the pump.
    using Handler = std::function<void(const std::vector<net::Received>&, Clock::time_point)>;

    // Packets a gate refused in one read, told to the context's thread in one call.
    struct Refused {
        std::size_t count = 0;
        std::string lastPeer, lastReason;
    };
    // Runs on the pump's own thread: empty to take a packet, else why it is refused.
    using Gate = std::function<std::optional<std::string>(const net::Received&)>;
    using RefusedHandler = std::function<void(const Refused&)>;

    PacketPump(net::PacketReceiver& receiver, QObject* context, Handler onPackets);
    // Stops the receiver and waits for the thread; packets not yet handed over are dropped.
    ~PacketPump();
    PacketPump(const PacketPump&) = delete;
    PacketPump& operator=(const PacketPump&) = delete;

    // Before start(): refused packets get their "REJECTED: " debug line here and never reach
    // the context's thread, so that a flood of them costs the window nothing.
    void setGate(Gate gate, RefusedHandler onRefused);
    void start();

private:
    void run();

    net::PacketReceiver& receiver_;
    QObject* context_;
    Handler onPackets_;
    Gate gate_;
    RefusedHandler onRefused_;
    std::thread thread_;
};

}  // namespace tw::client
