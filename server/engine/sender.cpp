#include "server/engine/sender.h"

#include <QScopeGuard>
#include <QUuid>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <thread>
#include <vector>

#include "common/events.h"
#include "common/net.h"
#include "common/net_async.h"
#include "common/platform/diagnostics.h"
#include "common/platform/fault_report.h"
#include "common/text.h"
#include "server/engine/engine_core.h"
#include "server/engine/signing_reserve.h"

namespace tw::server::engine {

namespace {

// Progress texts of a long pass come faster than anyone can read them; between the first and
// the last one, a new text goes out at most this often.
constexpr auto kProgressEvery = std::chrono::milliseconds(25);
constexpr int kProgressAlwaysUpTo = 256;

// The record as it goes out: signed, when the server has an operator key.
std::vector<std::uint8_t> outgoing(const PassJob& job,
                                   const std::array<std::uint8_t, kMessagePacketSize>& record) {
    if (!job.signer) return {record.begin(), record.end()};
    return job.signer->sign(record, auth::nowMs());
}

// Signs the packets of a batch on several threads: helpers (one per core beyond the first)
// start on a batch at once, and the pass joins in when it has sent the batch before. An
// Ed25519 signature per client is the most expensive step of a signed UDP pass when no nonce
// point is ready (right after start-up, or beyond what the reserve holds); alone on the
// pass's thread it would then more than double the pass.
class BatchSigner {
public:
    explicit BatchSigner(auth::Signer& signer) : signer_(signer) {
        const unsigned cores = std::thread::hardware_concurrency();
        const unsigned helpers = cores > 1 ? std::min(cores - 1, 7u) : 1u;
        for (unsigned h = 0; h < helpers; ++h) helpers_.emplace_back([this] { helperLoop(); });
    }
    ~BatchSigner() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        for (auto& t : helpers_) t.join();
    }

    // Starts signing every block of `batch` in place; the caller must finish() before it
    // begins the next one or touches the blocks.
    void begin(std::vector<std::vector<std::uint8_t>*> batch) {
        {
            std::lock_guard lock(mutex_);
            items_ = std::move(batch);
            next_ = 0;
            done_ = 0;
            ++generation_;
        }
        wake_.notify_all();
    }

    // Signs what the helpers have not taken yet, then waits until all have let go of it.
    void finish() {
        signSome();
        std::unique_lock lock(mutex_);
        settled_.wait(lock, [&] { return done_ == items_.size() && busy_ == 0; });
    }

    // Leaves the rest of the batch unsigned and waits until the helpers have let go of it (at
    // most the one signature each is making).
    void abandon() {
        next_ = items_.size();
        std::unique_lock lock(mutex_);
        settled_.wait(lock, [&] { return busy_ == 0; });
    }

private:
    void signSome() {
        const std::size_t n = items_.size();
        for (std::size_t k = next_.fetch_add(1); k < n; k = next_.fetch_add(1)) {
            std::vector<std::uint8_t>& bytes = *items_[k];
            bytes = signer_.sign(bytes, auth::nowMs());
            if (done_.fetch_add(1) + 1 == n) {
                std::lock_guard lock(mutex_);
                settled_.notify_all();
            }
        }
    }

    void helperLoop() {
        std::uint64_t seen = 0;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
                if (quit_) return;
                seen = generation_;
                ++busy_;
            }
            signSome();
            {
                std::lock_guard lock(mutex_);
                --busy_;
            }
            settled_.notify_all();
        }
    }

    auth::Signer& signer_;
    std::mutex mutex_;  // held only to hand a batch over or to wait; never while signing
    std::condition_variable wake_, settled_;
    std::vector<std::vector<std::uint8_t>*> items_;
    std::atomic<std::size_t> next_{0}, done_{0};
    std::uint64_t generation_ = 0;
    int busy_ = 0;  // helpers inside signSome()
    bool quit_ = false;
    std::vector<std::thread> helpers_;
};

// One UDP datagram to the broadcast address (broadcast mailings and both probes).
void sendBroadcast(const PassJob& job, const char* sentLine) {
    const std::string address = job.broadcastIp.toStdString();
    const auto bytes = outgoing(job, job.packet.serialize());
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
        std::vector<std::uint8_t> bytes;  // the record; signed only after the lock is let go
        std::size_t index = 0;
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
        const auto bytes = job.packet.serialize();
        return {record.address, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), i};
    }

    // With the lock held: the record of a client whose attempt failed.
    void markNotDelivered(std::size_t i) {
        const auto changed =
            core.ctx.tree.updateUpwards(static_cast<int>(i), DeliveryState::NotDelivered);
        emit core.q->itemsChanged(QVector<int>(changed.begin(), changed.end()));
    }

    // Takes the lock again after a network operation; false when the pass must end here
    // (stopped, or a scan's reload replaced the list, so the noted positions name nothing).
    bool relock() {
        lock.lock();
        return !token.stopped && core.listGeneration == job.listGeneration;
    }

    static bool chosen(const ClientRecord& r) {
        return !r.folder && r.checkMark == CheckMark::Checked;
    }

    bool runUdp() {
        if (job.signer) return runSignedUdp();
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

    // As runUdp, in batches. While the packets of one batch are signed, those of the batch
    // before go out and the records of the batch after get their ids, so that the pass's
    // thread joins the signing only with what is left of it.
    bool runSignedUdp() {
        net::UdpSender udp;
        BatchSigner signer(*job.signer);
        std::vector<Prepared> sending, signing, next;
        std::size_t i = 0;
        const std::size_t size = core.ctx.tree.records().size();
        // With the lock: the records of the batch after `signing` get their ids.
        const auto prepareBatch = [&](std::vector<Prepared>& batch) {
            batch.clear();
            for (; i < size && batch.size() < job.signingBatch; ++i) {
                if (!chosen(core.ctx.tree.records()[i])) continue;
                if (token.stopped) return false;
                batch.push_back(prepare(i));
            }
            return true;
        };
        // Without the lock: sends the batch whose signatures are done. Returns the positions
        // whose send failed, for the records once the lock is held again.
        const auto sendAll = [&](std::vector<std::size_t>& failed) {
            for (const Prepared& p : sending) {
                if (token.stopped) return;
                debugLine(QStringLiteral("SENDER: Current client address: ") + p.address);
                if (!udp.sendTo(p.address.toStdString(), job.port, p.bytes)) {
                    if (!token.stopped)
                        debugLine(QStringLiteral("SENDER: CANNOT Open connection to ") + p.address);
                    failed.push_back(p.index);
                }
            }
        };
        if (!prepareBatch(signing)) return false;
        lock.unlock();
        for (;;) {
            if (!signing.empty()) {
                std::vector<std::vector<std::uint8_t>*> blocks;
                blocks.reserve(signing.size());
                for (auto& p : signing) blocks.push_back(&p.bytes);
                signer.begin(std::move(blocks));
            }
            std::vector<std::size_t> failed;
            sendAll(failed);
            // A stopped pass sends nothing more: what is still being signed is dropped.
            if (!relock()) {
                signer.abandon();
                return false;
            }
            for (const std::size_t f : failed) markNotDelivered(f);
            if (signing.empty()) return true;
            if (!prepareBatch(next)) {
                signer.abandon();
                return false;
            }
            lock.unlock();
            signer.finish();
            sending.swap(signing);
            signing.swap(next);
        }
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
            Prepared p = prepare(i);
            underWay[i] = p.address;
            lock.unlock();
            if (job.signer) p.bytes = job.signer->sign(p.bytes, auth::nowMs());
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
    // The reserve of nonce points is topped up again once no pass runs any more.
    if (core.signing) core.signing->passBegins();
    const auto resumeReserve = qScopeGuard([&] {
        if (core.signing) core.signing->passEnded();
    });
    auto& ctx = core.ctx;
    const auto& texts = core.texts;
    const std::uint8_t kind = job.packet.systemMessage;
    const bool discovery = kind & kSysClientDiscover;
    const bool check = kind & kSysClientCheck;
    const bool textMessage = !discovery && !check;
    const QString rootId = toQString(job.packet.msgRootId);

    if (discovery) {
        sendBroadcast(job, "SENDER: === #M_SYS_CLIENT_DISCOVER BROADCAST PROBE LAUNCHED ====");
        return;
    }

    std::unique_lock lock(ctx.clientsLock);
    auto& list = ctx.tree.records();
    if (token->stopped || core.listGeneration != job.listGeneration) return;

    if (!list.empty() && list[0].checkMark == CheckMark::Checked && job.broadcastMode) {
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
        if (!r.folder && r.checkMark == CheckMark::Checked) ++total;
    }
    UnicastPass pass{core, job, *token, lock, total, textMessage};
    const bool completed = job.tcp ? pass.runTcp() : pass.runUdp();
    if (lock.owns_lock()) lock.unlock();
    if (!completed) return;

    if (textMessage) {
        emit core.q->sendButtonCaption(texts[Text::SendMessage]);
        emit core.q->statusText(texts[Text::SendingFinished]);
        tw::diag::writeEventLog(kEventInformation, eventId(ServerEvent::MailingSent),
                                tw::utf16ToUtf8(job.packet.msgRootId),
                                tw::utf16ToUtf8(job.packet.msgText), {});
    }
}

}  // namespace tw::server::engine
