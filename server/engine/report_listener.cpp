#include "server/engine/report_listener.h"

#include <algorithm>

#include "common/events.h"
#include "common/platform/diagnostics.h"
#include "common/platform/fault_report.h"
#include "server/data/history.h"
#include "server/engine/engine_core.h"

namespace tw::server::engine {

namespace {

// Reports taken in one go before they are handled; the rest wait for the next round, which
// follows at once.
constexpr std::size_t kBatchLimit = 1024;

QString kindText(ReportKind kind) {
    if (kind == ReportKind::IAmHere) return QStringLiteral("#M_REP_IAMHERE");
    if (kind == ReportKind::Active) return QStringLiteral("#M_REP_ACTIVE");
    return QStringLiteral("--- REGULAR REPORT ---");
}

}  // namespace

namespace {

// A keyed server reads the trailer behind the record too; without an office key it reads the
// record alone, as it always did.
std::size_t bytesToRead(const ServerContext& ctx) {
    return ctx.keys.office ? kReportPacketSize + auth::kTrailerHead + auth::kMacBytes
                           : kReportPacketSize;
}

}  // namespace

ReportListener::ReportListener(Core& core)
    : core_(core), receiver_(bytesToRead(core.ctx)), replayGuard_(core.ctx.keys.maxClockSkew) {}

ReportListener::~ReportListener() { stop(); }

bool ReportListener::open(int port) { return receiver_.open(port); }

void ReportListener::start() {
    if (thread_.running() || receiver_.stopped()) return;
    thread_ = Worker([this] { run(); }, [this] { receiver_.stop(); });
}

void ReportListener::stop() {
    receiver_.stop();
    thread_.join();
}

void ReportListener::run() {
    tw::platform::prepareFaultStackForThread();
    // Sleeps until a report arrives; every report waiting then is handled in one round.
    for (;;) {
        std::vector<net::Received> batch = receiver_.wait(kBatchLimit);
        if (batch.empty()) return;  // stopped
        handle(batch);
    }
}

template <class Sink>
void ReportListener::noteLateReport(int index, const ClientRecord& r, const QString& rootId,
                                    Sink sink) {
    auto& book = core_.lastMailing;
    if (!book || !book->summaryWritten || book->record.rootId != rootId ||
        book->listGeneration != core_.listGeneration)
        return;
    const auto at = std::lower_bound(book->positions.begin(), book->positions.end(), index);
    if (at == book->positions.end() || *at != index) return;
    const auto ordinal = static_cast<std::size_t>(at - book->positions.begin());
    MailingClient& client = book->record.clients[ordinal];
    // A repeated report of the same state (a client answering a packet sent again) is no news.
    if (client.state == r.deliveryState) return;
    client.state = r.deliveryState;
    client.reportTime = r.reportTime;
    sink({rootId, static_cast<int>(ordinal), client, book->record.counts()});
}

void ReportListener::handle(std::vector<net::Received>& batch) {
    auto& ctx = core_.ctx;
    const bool broadcast = ctx.settings->snapshot().Broadcast == 1;
    const bool debug = tw::diag::debugEnabled();
    // The reports of one round arrived together; reading the clock and the time zone once per
    // round keeps a burst from paying for it per report.
    const QString now = timeOfDay();

    struct Incoming {
        ReportPacket report;
        ReportKey key;
        std::size_t firstMatchLine = 0;  // into matchLines, its lines follow its header
    };
    std::vector<Incoming> incoming;
    incoming.reserve(batch.size());
    // A report without a valid MAC under the office key changes no record and reaches no
    // scan: anyone who can reach the port could otherwise mark a workstation "Confirmed".
    std::vector<QString> rejected;
    const auto& office = ctx.keys.office;
    const std::uint64_t nowMs = office ? auth::nowMs() : 0;
    for (auto& received : batch) {
        if (office) {
            const auth::Verdict v =
                auth::verify(received.data, kReportPacketSize, *office, replayGuard_, nowMs);
            if (v != auth::Verdict::Ok) {
                rejected.push_back(QStringLiteral("LISTEN: REJECTED: ") +
                                   QString::fromStdString(received.peerAddress) +
                                   QStringLiteral(": ") +
                                   QString::fromLatin1(auth::verdictText(v)));
                continue;
            }
        }
        Incoming in;
        in.report = ReportPacket::parse(received.data);
        const QString peer = QString::fromStdString(received.peerAddress);
        in.report.clientAddr = toU16(peer);
        in.key = ReportKey{toQString(in.report.msgRootId), toQString(in.report.msgGuid), peer,
                           toQString(in.report.clientName), toQString(in.report.clientFqdn)};
        incoming.push_back(std::move(in));
    }

    // Debug lines are written outside the clients lock: a slow disk must not hold up the
    // sender or the window. Each report's header comes first, then its match lines.
    std::vector<QString> matchLines;
    std::vector<int> changed;
    struct Late {
        QString rootId;
        int ordinal;
        MailingClient client;
        MailingCounts counts;
    };
    std::vector<Late> late;
    {
        std::lock_guard lock(ctx.clientsLock);
        core_.ensureIndex();
        auto& list = ctx.tree.records();
        for (auto& in : incoming) {
            in.firstMatchLine = matchLines.size();
            if (in.report.kind == ReportKind::IAmHere) {
                core_.presence.offer(in.report);
                continue;
            }
            for (const Match& m : core_.matcher.match(list, in.key, broadcast)) {
                if (debug) {
                    matchLines.push_back(
                        m.run == 1
                            ? QStringLiteral("LISTEN: CLIENT matching by ") +
                                  QString::fromLatin1(m.rule) + QStringLiteral(" [SUCCESS]")
                            : QStringLiteral("LISTEN: ==[DUPLICATED]== CLIENT matching by ") +
                                  QString::fromLatin1(m.rule) + QStringLiteral("[SUCCESS]"));
                }
                ClientRecord& r = list[static_cast<std::size_t>(m.index)];
                r.reportTime = now;
                const auto up = ctx.tree.updateUpwards(m.index, deliveryStateOf(in.report.kind));
                changed.insert(changed.end(), up.begin(), up.end());
                noteLateReport(m.index, r, in.key.rootId,
                               [&](Late l) { late.push_back(std::move(l)); });
            }
        }
    }

    if (debug) {
        for (const QString& l : rejected) debugLine(l);
        for (std::size_t n = 0; n < incoming.size(); ++n) {
            const auto& in = incoming[n];
            debugLine(QString());
            debugLine(QStringLiteral("######################"));
            debugLine(QStringLiteral("LISTEN: INCOMING PACKET FROM CLIENT: ") +
                      kindText(in.report.kind));
            debugLine(QStringLiteral("LISTEN: ClientAddr: ") + toQString(in.report.clientAddr));
            debugLine(QStringLiteral("LISTEN: RecvClientName: ") + in.key.clientName);
            debugLine(QStringLiteral("LISTEN: RecvClientFQDNName: ") + in.key.clientFqdn);
            debugLine(QStringLiteral("LISTEN: SentMsgRootId: ") + in.key.rootId);
            debugLine(QStringLiteral("LISTEN: SentMsgGUID: ") + in.key.guid);
            debugLine(QStringLiteral("LISTEN: ReportMask: ") +
                      QString::number(static_cast<std::uint8_t>(in.report.kind)));
            if (in.report.kind == ReportKind::IAmHere) continue;
            debugLine(QStringLiteral("LISTEN: Look down for success match! ---vvv"));
            const std::size_t end =
                n + 1 < incoming.size() ? incoming[n + 1].firstMatchLine : matchLines.size();
            for (std::size_t k = in.firstMatchLine; k < end; ++k) debugLine(matchLines[k]);
        }
    }

    // A report after the summary: its own event record and a line in the history, so that
    // neither keeps saying "Not delivered" about a client that has confirmed.
    for (const Late& l : late) {
        const QString status = stateWord(l.client.state, core_.texts) + QLatin1Char(' ') +
                               core_.texts[Text::In] + QLatin1Char(' ') + l.client.reportTime;
        tw::diag::writeEventLog(
            kEventInformation, eventId(ServerEvent::LateReport), l.rootId.toStdString(),
            (l.client.name + QStringLiteral(" (") + l.client.address + QLatin1Char(')'))
                .toStdString(),
            status.toStdString());
        appendHistory(core_.historyFile, lateReportLine(l.rootId, l.ordinal, l.client, l.counts));
    }
    if (!late.empty()) emit core_.q->mailingProgressChanged();

    if (changed.empty()) return;
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    emit core_.q->itemsChanged(QVector<int>(changed.begin(), changed.end()));
}

}  // namespace tw::server::engine
