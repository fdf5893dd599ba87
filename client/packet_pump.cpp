#include "client/packet_pump.h"

#include <QMetaObject>

#include "common/net_async.h"

namespace tw::client {

PacketPump::PacketPump(net::PacketReceiver& receiver, QObject* context, Handler onPackets)
    : receiver_(receiver), context_(context), onPackets_(std::move(onPackets)) {}

PacketPump::~PacketPump() {
    receiver_.stop();
    if (thread_.joinable()) thread_.join();
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
        // Calls still queued when the context goes are dropped with it.
        QMetaObject::invokeMethod(
            context_,
            [handler = onPackets_, batch = std::move(batch), now] { handler(batch, now); },
            Qt::QueuedConnection);
    }
}

}  // namespace tw::client
