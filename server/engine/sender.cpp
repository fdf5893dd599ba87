#include "server/engine/sender.h"

#include <QScopeGuard>
#include <QUuid>

#include "common/net.h"
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
    const QString totalText = QString::number(total);
    net::UdpSender udp;  // one socket for the whole pass
    int number = 1;
    auto lastProgress = std::chrono::steady_clock::time_point{};
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].folder || list[i].checkMark != kMarkChecked) continue;
        if (token->stopped) return;
        if (textMessage) {
            const auto now = std::chrono::steady_clock::now();
            if (total <= kProgressAlwaysUpTo || number == 1 || number == total ||
                now - lastProgress >= kProgressEvery) {
                lastProgress = now;
                emit core.q->statusText(texts[Text::Sending] + QLatin1Char(' ') +
                                        QString::number(number) + QLatin1Char('/') + totalText);
            }
        }
        ClientRecord& record = list[i];
        debugLine(QStringLiteral("SENDER: Current client address: ") + record.address);
        // Both ids are in the record before the packet leaves, so a report that comes back
        // while the next client is being contacted finds them.
        const QString guid = newGuidText();
        job.packet.msgGuid = toU16(guid);
        record.setMessageGuid(guid);
        record.setMessageId(rootId);
        core.matcher.noteSent(static_cast<int>(i), rootId, guid);
        const QString address = record.address;
        const auto bytes = job.packet.serialize();

        lock.unlock();
        const std::string host = address.toStdString();
        const bool sent =
            job.tcp ? net::sendBlock(host, job.port, Transport::Tcp, bytes, job.connectTimeout)
                    : udp.sendTo(host, job.port, bytes);
        if (!sent && !token->stopped)
            debugLine(QStringLiteral("SENDER: CANNOT Open connection to ") + address);
        lock.lock();

        if (token->stopped) return;
        // A scan's reload replaced the list while the lock was free: the position noted
        // before the send no longer names this client, and the mailing's clients are gone.
        if (core.listGeneration != job.listGeneration) return;
        if (!sent) {
            list[i].deliveryState = 4;
            const auto changed = ctx.tree.updateUpwards(static_cast<int>(i), 4, TreeMode::Icons);
            emit core.q->itemsChanged(QVector<int>(changed.begin(), changed.end()));
        }
        ++number;
    }
    lock.unlock();

    if (textMessage) {
        emit core.q->sendButtonCaption(texts[Text::SendMessage]);
        emit core.q->statusText(texts[Text::SendingFinished]);
        tw::diag::writeEventLog(4, 101, tw::utf16ToUtf8(job.packet.msgRootId),
                                tw::utf16ToUtf8(job.packet.msgText), {});
    }
}

}  // namespace tw::server::engine
