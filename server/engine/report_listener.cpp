#include "server/engine/report_listener.h"

#include <algorithm>

#include "common/platform/diagnostics.h"
#include "common/platform/fault_report.h"
#include "server/engine/engine_core.h"

namespace tw::server::engine {

namespace {

constexpr auto kPollPause = std::chrono::milliseconds(50);
// Reports taken in one go before they are handled; the rest wait for the next round, which
// follows at once.
constexpr std::size_t kBatchLimit = 1024;

QString kindText(std::uint8_t mask) {
    if (mask == M_REP_IAMHERE) return QStringLiteral("#M_REP_IAMHERE");
    if (mask == M_REP_ACTIVE) return QStringLiteral("#M_REP_ACTIVE");
    return QStringLiteral("--- REGULAR REPORT ---");
}

}  // namespace

ReportListener::ReportListener(Core& core) : core_(core) {}

ReportListener::~ReportListener() { stop(); }

bool ReportListener::open(int port) {
    if (!udp_.open(port)) return false;
    if (!tcp_.open(port)) {
        udp_.close();
        return false;
    }
    return true;
}

void ReportListener::start() {
    if (thread_.joinable()) return;
    {
        std::lock_guard lock(waitMutex_);
        stop_ = false;
    }
    thread_ = std::thread([this] { run(); });
}

void ReportListener::stop() {
    {
        std::lock_guard lock(waitMutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ReportListener::run() {
    tw::platform::prepareFaultStackForThread();
    std::vector<net::Received> batch;
    for (;;) {
        {
            std::lock_guard lock(waitMutex_);
            if (stop_) return;
        }
        // Take every report that is waiting: one per round would let a burst of answers
        // overflow the socket buffer.
        batch.clear();
        bool more = true;
        while (more && batch.size() < kBatchLimit) {
            more = false;
            if (auto r = udp_.poll(kReportPacketSize)) {
                batch.push_back(std::move(*r));
                more = true;
            }
            if (auto r = tcp_.poll(kReportPacketSize)) {
                batch.push_back(std::move(*r));
                more = true;
            }
        }
        if (!batch.empty()) {
            handle(batch);
            continue;
        }
        std::unique_lock lock(waitMutex_);
        wake_.wait_for(lock, kPollPause, [&] { return stop_; });
    }
}

void ReportListener::handle(std::vector<net::Received>& batch) {
    auto& ctx = core_.ctx;
    const bool broadcast = core_.broadcast.load() == 1;
    std::vector<int> changed;
    // The reports of one round arrived together; reading the clock and the time zone once per
    // round keeps a burst from paying for it per report.
    const QString now = timeOfDay();
    {
        std::lock_guard lock(ctx.clientsLock);
        core_.ensureIndex();
        auto& list = ctx.tree.records();
        for (auto& received : batch) {
            ReportPacket report = ReportPacket::parse(received.data);
            report.clientAddr = toU16(QString::fromStdString(received.peerAddress));
            const ReportKey key{toQString(report.msgRootId), toQString(report.msgGuid),
                                QString::fromStdString(received.peerAddress),
                                toQString(report.clientName), toQString(report.clientFqdn)};
            if (tw::diag::debugEnabled()) {
                debugLine(QString());
                debugLine(QStringLiteral("######################"));
                debugLine(QStringLiteral("LISTEN: INCOMING PACKET FROM CLIENT: ") +
                          kindText(report.reportMask));
                debugLine(QStringLiteral("LISTEN: ClientAddr: ") + toQString(report.clientAddr));
                debugLine(QStringLiteral("LISTEN: RecvClientName: ") + key.clientName);
                debugLine(QStringLiteral("LISTEN: RecvClientFQDNName: ") + key.clientFqdn);
                debugLine(QStringLiteral("LISTEN: SentMsgRootId: ") + key.rootId);
                debugLine(QStringLiteral("LISTEN: SentMsgGUID: ") + key.guid);
                debugLine(QStringLiteral("LISTEN: ReportMask: ") +
                          QString::number(report.reportMask));
            }
            if (report.reportMask == M_REP_IAMHERE) {
                core_.presence.offer(report);
                continue;
            }
            debugLine(QStringLiteral("LISTEN: Look down for success match! ---vvv"));
            for (const Match& m : core_.matcher.match(list, key, broadcast)) {
                if (m.run == 1) {
                    debugLine(QStringLiteral("LISTEN: CLIENT matching by ") +
                              QString::fromLatin1(m.rule) + QStringLiteral(" [SUCCESS]"));
                } else {
                    debugLine(QStringLiteral("LISTEN: ==[DUPLICATED]== CLIENT matching by ") +
                              QString::fromLatin1(m.rule) + QStringLiteral("[SUCCESS]"));
                }
                ClientRecord& r = list[static_cast<std::size_t>(m.index)];
                r.deliveryState = report.reportMask;
                r.reportTime = now;
                const auto up = ctx.tree.updateUpwards(m.index, r.deliveryState, TreeMode::Icons);
                changed.insert(changed.end(), up.begin(), up.end());
            }
        }
    }
    if (changed.empty()) return;
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    emit core_.q->itemsChanged(QVector<int>(changed.begin(), changed.end()));
}

}  // namespace tw::server::engine
