#include "server/engine/sender.h"

#include <QScopeGuard>
#include <QUuid>
#include <map>

#include "common/net.h"
#include "common/net_async.h"
#include "common/platform/diagnostics.h"
#include "common/platform/fault_report.h"
#include "common/text.h"
#include "server/engine/engine_core.h"

namespace tw::server::engine {

namespace {

// Progress texts of a long pass come faster than anyone can read them; between the first and
// the last one, a new text goes out at most this often.
constexpr auto kProgressEvery = std::chrono::milliseconds(25);
constexpr int kProgressAlwaysUpTo = 256;

// One UDP datagram to the broadcast address (broadcast mailings and both probes).
void sendBroadcast(const PassJob& job, const char* sentLine) {
    const std::string address = job.broadcastIp.toStdString();
    const auto bytes = job.packet.serialize();
    auto conn = net::openConnection(address, job.port, Transport::Udp);
    if (!conn) {
        debugLine(QStringLiteral("SENDER: CANNOT Open connection to ") + job.broadcastIp);
        return;
    }
    conn->send(bytes);
    conn->close();
    debugLine(QString::fromLatin1(sentLine));
}

// The unicast branch: every checked client in list order gets its own GUID and one attempt.
// The clients lock is held while records are read or written and released around every
// network operation and every debug line.
struct UnicastPass {
    Core& core;
    PassJob& job;
    PassToken& token;
    std::unique_lock<std::mutex>& lock;
    const int total;
    const bool textMessage;

    int number = 1;
    std::chrono::steady_clock::time_point lastProgress{};
    const QString rootId = toQString(job.packet.msgRootId);

    struct Prepared {
        QString address;
        std::array<std::uint8_t, kMessagePacketSize> bytes;
    };

    // With the lock held: the progress text, and both ids in the record before the packet
    // leaves, so a report that comes back while later clients are contacted finds them.
    Prepared prepare(std::size_t i) {
        if (textMessage) {
            const auto now = std::chrono::steady_clock::now();
            if (total <= kProgressAlwaysUpTo || number == 1 || number == total ||
                now - lastProgress >= kProgressEvery) {
                lastProgress = now;
                emit core.q->statusText(core.texts[Text::Sending] + QLatin1Char(' ') +
                                        QString::number(number) + QLatin1Char('/') +
                                        QString::number(total));
            }
        }
        ++number;
        ClientRecord& record = core.ctx.tree.records()[i];
        const QString guid = newGuidText();
        job.packet.msgGuid = toU16(guid);
        record.setMessageGuid(guid);
        record.setMessageId(rootId);
        core.matcher.noteSent(static_cast<int>(i), rootId, guid);
        return {record.address, job.packet.serialize()};
    }

    // With the lock held: the record of a client whose attempt failed.
    void markNotDelivered(std::size_t i) {
        core.ctx.tree.records()[i].deliveryState = 4;
        const auto changed = core.ctx.tree.updateUpwards(static_cast<int>(i), 4, TreeMode::Icons);
        emit core.q->itemsChanged(QVector<int>(changed.begin(), changed.end()));
    }

    // Takes the lock again after a network operation; false when the pass must end here
    // (stopped, or a scan's reload replaced the list, so the noted positions name nothing).
    bool relock() {
        lock.lock();
        return !token.stopped && core.listGeneration == job.listGeneration;
    }

    static bool chosen(const ClientRecord& r) { return !r.folder && r.checkMark == kMarkChecked; }

    bool runUdp() {
        net::UdpSender udp;  // one socket for the whole pass
        for (std::size_t i = 0; i < core.ctx.tree.records().size(); ++i) {
            if (!chosen(core.ctx.tree.records()[i])) continue;
            if (token.stopped) return false;
            const Prepared p = prepare(i);
            lock.unlock();
            debugLine(QStringLiteral("SENDER: Current client address: ") + p.address);
            const bool sent = udp.sendTo(p.address.toStdString(), job.port, p.bytes);
            if (!sent && !token.stopped)
                debugLine(QStringLiteral("SENDER: CANNOT Open connection to ") + p.address);
            if (!relock()) return false;
            if (!sent) markNotDelivered(i);
        }
        return true;
    }

    // Attempts run side by side, at most job.tcpInFlight at once, so switched-off clients
    // cost one time-out together instead of one each.
    bool runTcp() {
        net::TcpFanOut fan(job.tcpInFlight, job.connectTimeout);
        std::map<std::size_t, QString> underWay;  // list position -> address
        token.setWake([&fan] { fan.interrupt(); });
        const auto forgetWake = qScopeGuard([&] { token.setWake({}); });

        // Called without the lock; returns with it held when the pass goes on.
        const auto settle = [&](const std::vector<net::TcpFanOut::Ended>& ended) {
            // A client's lines stay together: both are written when its attempt has ended.
            for (const auto& e : ended) {
                const QString address = underWay[e.tag];
                debugLine(QStringLiteral("SENDER: Current client address: ") + address);
                if (!e.sent && !token.stopped)
                    debugLine(QStringLiteral("SENDER: CANNOT Open connection to ") + address);
            }
            if (!relock()) return false;
            for (const auto& e : ended) {
                if (!e.sent) markNotDelivered(e.tag);
                underWay.erase(e.tag);
            }
            return true;
        };
        const auto abandon = [&] {
            if (lock.owns_lock()) lock.unlock();
            fan.abandon();
            for (const auto& [i, address] : underWay)
                debugLine(QStringLiteral("SENDER: Current client address: ") + address);
            return false;
        };

        for (std::size_t i = 0; i < core.ctx.tree.records().size(); ++i) {
            if (!chosen(core.ctx.tree.records()[i])) continue;
            while (fan.full()) {
                lock.unlock();
                if (!settle(fan.wait())) return abandon();
            }
            if (token.stopped) return abandon();
            const Prepared p = prepare(i);
            underWay[i] = p.address;
            lock.unlock();
            fan.start(i, p.address.toStdString(), job.port, p.bytes);
            if (!settle(fan.poll())) return abandon();
        }
        while (fan.inFlight() != 0) {
            lock.unlock();
            if (!settle(fan.wait())) return abandon();
        }
        return true;
    }
};
}  // namespace

QString newGuidText() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

void runPass(Core& core, PassJob job, std::shared_ptr<PassToken> token) {
    tw::platform::prepareFaultStackForThread();
    const auto markFinished = qScopeGuard([&] { token->finished = true; });
    auto& ctx = core.ctx;
    const auto& texts = core.texts;
    const std::uint8_t kind = job.packet.systemMessage;
    const bool discovery = kind & M_SYS_CLIENT_DISCOVER;
    const bool check = kind & M_SYS_CLIENT_CHECK;
    const bool textMessage = !discovery && !check;
    const QString rootId = toQString(job.packet.msgRootId);

    if (discovery) {
        sendBroadcast(job, "SENDER: === #M_SYS_CLIENT_DISCOVER BROADCAST PROBE LAUNCHED ====");
        return;
    }

    std::unique_lock lock(ctx.clientsLock);
    auto& list = ctx.tree.records();
    if (token->stopped || core.listGeneration != job.listGeneration) return;

    if (!list.empty() && list[0].checkMark == kMarkChecked && job.broadcastMode) {
        lock.unlock();
        sendBroadcast(
            job, check ? "SENDER: === SYSTEM BROADCAST NESSAGE #M_SYS_CLIENT_CHECK WAS SENT ===="
                       : "SENDER: === TEXT BROADCAST MESSAGE WAS SENT ====");
        lock.lock();
        if (token->stopped || core.listGeneration != job.listGeneration) return;
        for (auto& r : list) {
            if (!r.folder) r.setMessageId(rootId);
        }
        lock.unlock();
        if (textMessage) {
            emit core.q->sendButtonCaption(texts[Text::SendMessage]);
            emit core.q->statusText(texts[Text::SendingFinished]);
        }
        return;
    }

    int total = 0;
    for (const auto& r : list) {
        if (!r.folder && r.checkMark == kMarkChecked) ++total;
    }
    UnicastPass pass{core, job, *token, lock, total, textMessage};
    const bool completed = job.tcp ? pass.runTcp() : pass.runUdp();
    if (lock.owns_lock()) lock.unlock();
    if (!completed) return;

    if (textMessage) {
        emit core.q->sendButtonCaption(texts[Text::SendMessage]);
        emit core.q->statusText(texts[Text::SendingFinished]);
        tw::diag::writeEventLog(4, 101, tw::utf16ToUtf8(job.packet.msgRootId),
                                tw::utf16ToUtf8(job.packet.msgText), {});
    }
}

}  // namespace tw::server::engine
