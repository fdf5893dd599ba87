#include "client/packet_pump.h"

#include <QMetaObject>

#include "client/trust.h"
#include "common/net_async.h"
#include "common/platform/diagnostics.h"

namespace tw::client {

PacketPump::PacketPump(net::PacketReceiver& receiver, QObject* context, Handler onPackets)
    : receiver_(receiver), context_(context), onPackets_(std::move(onPackets)) {}

PacketPump::~PacketPump() {
    receiver_.stop();
    if (thread_.joinable()) thread_.join();
}

void PacketPump::setGate(Gate gate, RefusedHandler onRefused) {
    gate_ = std::move(gate);
    onRefused_ = std::move(onRefused);
}

void PacketPump::start() {
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

void PacketPump::run() {
    for (;;) {
        std::vector<net::Received> batch = receiver_.wait();
        if (receiver_.stopped()) return;
        if (batch.empty()) continue;
        const Clock::time_point now = Clock::now();
        if (gate_) {
            Refused refused;
            std::erase_if(batch, [&](const net::Received& r) {
                std::optional<std::string> why = gate_(r);
                if (!why) return false;
                diag::debugLog(rejectedLine(r.peerAddress, *why));
                ++refused.count;
                refused.lastPeer = r.peerAddress;
                refused.lastReason = std::move(*why);
                return true;
            });
            if (refused.count > 0 && onRefused_)
                QMetaObject::invokeMethod(
                    context_, [handler = onRefused_, refused] { handler(refused); },
                    Qt::QueuedConnection);
            if (batch.empty()) continue;
        }
        // Calls still queued when the context goes are dropped with it.
        QMetaObject::invokeMethod(
            context_,
            [handler = onPackets_, batch = std::move(batch), now] { handler(batch, now); },
            Qt::QueuedConnection);
    }
}

}  // namespace tw::client
