#include "server/engine/engine.h"

#include <QDateTime>
#include <QTimer>
#include <algorithm>

#include "common/events.h"
#include "common/platform/descriptors.h"
#include "common/platform/diagnostics.h"
#include "common/text.h"
#include "server/data/clients.h"
#include "server/engine/engine_core.h"
#include "server/engine/engine_state.h"
#include "server/engine/mailing.h"
#include "server/engine/report_listener.h"
#include "server/engine/scanner.h"
#include "server/engine/sender.h"
#include "server/engine/worker.h"

namespace tw::server {

using namespace engine;

namespace {

// A key file's fault in the interface language.
QString keyFaultText(const auth::KeyResult& r, const QString& file, auth::KeyKind expected,
                     const InterfaceTexts& texts) {
    using auth::KeyFault;
    const auto text = [&](Text id) { return texts[id].arg(file); };
    switch (r.fault) {
        case KeyFault::None:
            break;
        case KeyFault::NoCryptography:
            return text(Text::KeyNoCryptography);
        case KeyFault::Missing:
            return text(Text::KeyMissing);
        case KeyFault::NotAFile:
            return text(Text::KeyNotAFile);
        case KeyFault::Unreadable:
            return text(Text::KeyUnreadable);
        case KeyFault::NotAKeyFile:
            return text(Text::KeyNotAKeyFile);
        case KeyFault::WrongKind:
            return texts[Text::KeyWrongKind].arg(file, QLatin1String(auth::keyHeader(r.found)),
                                                 QLatin1String(auth::keyHeader(expected)));
        case KeyFault::OpenToOthers:
            return text(Text::KeyOpenToOthers);
        case KeyFault::Malformed:
            return text(Text::KeyMalformed);
    }
    return QString::fromStdString(r.error);
}

}  // namespace

QStringList loadSecurityKeys(const ServerConfig& config, const InterfaceTexts& texts,
                             SecurityKeys& out) {
    QStringList errors;
    const auto read = [&](const QString& path, auth::KeyKind kind, std::optional<auth::Key>& key) {
        key.reset();
        if (path.isEmpty()) return;
        const auto file = dataFilePath(path);
        auth::KeyResult r = auth::readKeyFile(file, kind);
        if (r.key)
            key = std::move(r.key);
        else
            errors << keyFaultText(r, QString::fromStdString(file.string()), kind, texts);
    };
    read(config.SigningKey, auth::KeyKind::OperatorSecret, out.signing);
    read(config.OfficeKey, auth::KeyKind::Office, out.office);
    out.maxClockSkew = std::chrono::seconds(config.MaxClockSkew);
    return errors;
}

struct ServerEngine::Impl {
    Impl(ServerEngine* engine, ServerContext& context, const InterfaceTexts& texts)
        : q(engine), core(context, texts, engine), listener(core) {}

    ServerEngine* q;
    Core core;
    ReportListener listener;
    Timing timing;

    QTimer sendTimer;   // #Timer_Send
    QTimer scanTimer;   // #Timer_Scan_New
    QTimer checkTimer;  // #Timer_Scan_Check
    int intervalMs = 0;
    // The mailing whose summary the end of mailing writes.
    std::string mailingRootId, mailingText;

    // What the engine is doing; changed only by advance().
    EngineState state = EngineState::Idle;
    int countdown = 0;  // seconds left of the check or the scan (Probing, Scanning)

    struct Pass {
        std::shared_ptr<PassToken> token;
        Worker worker;
    };
    std::vector<Pass> passes;
    // The current mailing's and the current probe's pass, for telling when it has ended.
    std::shared_ptr<PassToken> mailing, probe;
    Worker collector;

    // The settings as they are now; every operation takes one copy and works from it, so that
    // a change in between never mixes two versions.
    ServerConfig config() const { return core.ctx.settings->snapshot(); }
    const InterfaceTexts& texts() const { return core.texts; }
    bool english() const { return core.texts.language() == QStringLiteral("EN"); }

    static bool runs(const std::shared_ptr<PassToken>& t) {
        return t && !t->stopped && !t->finished;
    }

    // The state with the end of a pass taken into account: passes end on their own threads,
    // and the engine hears of it when it next looks.
    EngineState settled() const {
        const bool passOver =
            ((state == EngineState::Sending || state == EngineState::SendingPastWait) &&
             !runs(mailing)) ||
            (state == EngineState::Finishing && !runs(probe));
        if (!passOver) return state;
        return transition(state, EngineEvent::PassEnded).value_or(state);
    }
    void settle() { state = settled(); }
    // Applies `event`; false (and the state unchanged) when it is not allowed now.
    bool advance(EngineEvent event) {
        settle();
        const auto next = transition(state, event);
        if (!next) return false;
        state = *next;
        return true;
    }

    bool mailingRuns() const {
        const EngineState s = settled();
        return s == EngineState::Sending || s == EngineState::SendingPastWait;
    }
    bool scannerBusy() const {
        const EngineState s = settled();
        return s == EngineState::Probing || s == EngineState::Scanning ||
               s == EngineState::Finishing;
    }
    bool closing() const { return state == EngineState::Closing; }

    // Joins the passes that have ended (all of them when `all`, after stopping them).
    void reap(bool all) {
        for (auto it = passes.begin(); it != passes.end();) {
            if (all || it->token->finished) {
                it->worker.join();
                it = passes.erase(it);
            } else {
                ++it;
            }
        }
    }

    void resetStates() {
        std::vector<int> all;
        {
            std::lock_guard lock(core.ctx.clientsLock);
            core.ctx.tree.resetDeliveryStates();
            core.matcher.forgetSent();
            all.resize(core.ctx.tree.records().size());
            for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
        }
        if (!all.empty()) emit q->itemsChanged(QVector<int>(all.begin(), all.end()));
    }

    // Fills the outgoing packet and starts a pass with it.
    std::shared_ptr<PassToken> startPass(const ServerConfig& cfg, std::uint8_t kind,
                                         const std::u16string& rootId, const QString* text) {
        reap(false);
        PassJob job;
        {
            std::lock_guard lock(core.ctx.clientsLock);
            auto& packet = core.ctx.outgoing;
            packet.systemMessage = kind;
            packet.msgRootId = rootId;
            packet.serverName = toU16(core.ctx.hostName);
            packet.language = toU16(core.texts.language());
            if (text) packet.msgText = toU16(*text);
            job.packet = packet;
            job.listGeneration = core.listGeneration;
            core.ensureIndex();
        }
        job.broadcastMode = cfg.Broadcast == 1;
        job.broadcastIp = cfg.Broadcast_IP;
        job.tcp = cfg.ProtoUseTCP == 1;
        job.port = cfg.PortSender;
        job.signer = core.signing ? &core.signing->signer() : nullptr;
        job.signingBatch = std::max<std::size_t>(1, timing.signingBatch);
        job.connectTimeout = timing.connectTimeout;
        job.tcpInFlight =
            timing.tcpInFlight != 0 ? timing.tcpInFlight : tw::platform::connectionAttemptLimit();
        auto token = std::make_shared<PassToken>();
        Worker worker(
            [this, job = std::move(job), token]() mutable { runPass(core, std::move(job), token); },
            [token] { token->stop(); });
        passes.push_back(Pass{token, std::move(worker)});
        return token;
    }

    void endMailing(bool eventLog) {
        MailingEnd end;
        std::optional<MailingRecord> outcome;
        {
            std::lock_guard lock(core.ctx.clientsLock);
            end = finishMailing(core.ctx.tree, core.texts);
            // Only a mailing's end writes its outcome; a check's end has none.
            auto& book = core.lastMailing;
            if (eventLog && book && !book->summaryWritten &&
                book->listGeneration == core.listGeneration) {
                const auto& list = core.ctx.tree.records();
                book->record.clients.clear();
                book->record.clients.reserve(book->positions.size());
                for (const int i : book->positions) {
                    const ClientRecord& r = list[static_cast<std::size_t>(i)];
                    book->record.clients.push_back({r.name, r.address, r.deliveryState,
                                                    r.deliveryState == DeliveryState::NotDelivered
                                                        ? QString()
                                                        : r.reportTime});
                }
                book->summaryWritten = true;
                book->waitEnds = QDateTime::currentDateTime();
                outcome = book->record;
            }
        }
        if (!end.changed.empty())
            emit q->itemsChanged(QVector<int>(end.changed.begin(), end.changed.end()));
        if (eventLog)
            tw::diag::writeEventLog(kEventInformation, eventId(ServerEvent::MailingSent),
                                    mailingRootId, mailingText, end.summary.toStdString());
        if (outcome) {
            // The file is written outside the lock; a history that cannot be written is the
            // operator's to know, once per run.
            if (!appendHistory(core.historyFile, mailingLine(*outcome)) && !historyWarned) {
                historyWarned = true;
                emit q->messageBox(texts()[Text::ErrorTitle], texts()[Text::CantWriteHistory],
                                   tw::platform::BoxIcon::Error);
            }
            emit q->mailingProgressChanged();
        }
    }
    bool historyWarned = false;

    // With the lock held, before the pass starts: which records this mailing goes to.
    void openBook(const ServerConfig& cfg, const QString& rootId, const QString& text,
                  int intervalMs) {
        Core::MailingBook book;
        book.record.rootId = rootId;
        book.record.time = QDateTime::currentDateTime();
        book.record.text = text;
        const auto& list = core.ctx.tree.records();
        const bool broadcast =
            cfg.Broadcast == 1 && !list.empty() && list[0].checkMark == CheckMark::Checked;
        book.record.transport = broadcast              ? QStringLiteral("broadcast")
                                : cfg.ProtoUseTCP == 1 ? QStringLiteral("TCP")
                                                       : QStringLiteral("UDP");
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (!list[i].folder && list[i].checkMark == CheckMark::Checked)
                book.positions.push_back(static_cast<int>(i));
        }
        book.listGeneration = core.listGeneration;
        book.waitEnds = book.record.time.addMSecs(intervalMs);
        core.lastMailing = std::move(book);
    }

    // A mailing still waiting for reports is closed with its summary before anything resets
    // the states it would report, so its record in the event log is never lost or falsified.
    void closeWaitingMailing() {
        settle();
        if (state != EngineState::Waiting) return;
        sendTimer.stop();
        advance(EngineEvent::WaitEnded);
        endMailing(true);
    }

    QString countdownText(Text job, int seconds) const {
        return texts()[job] + QStringLiteral(": ") + QString::number(seconds) + QLatin1Char(' ') +
               texts()[Text::UnitSec];
    }
    QString finishedText(Text job) const {
        return texts()[job] + QStringLiteral(": ") + texts()[Text::JobFinished];
    }

    // The scanner job `job` cannot start now; false when it may.
    bool refuseScannerJob(Text job) {
        QString why;
        if (mailingRuns()) {
            why = english() ? QStringLiteral("wait until the sending is finished")
                            : QStringLiteral("дождитесь окончания рассылки");
        } else if (scannerBusy()) {
            why = english() ? QStringLiteral("wait until the running job is finished")
                            : QStringLiteral("дождитесь окончания текущей работы");
        } else {
            return false;
        }
        emit q->statusText(texts()[job] + QStringLiteral(": ") + why);
        return true;
    }

    void scanTick() {
        if (state != EngineState::Scanning) return;
        if (--countdown > 0) {
            emit q->statusText(countdownText(Text::ClientsScanner, countdown));
            return;
        }
        advance(EngineEvent::CountdownEnded);
        scanTimer.stop();
        emit q->statusText(finishedText(Text::ClientsScanner));
        core.presence.stop(false);
    }

    void checkTick() {
        if (state != EngineState::Probing) return;
        if (--countdown > 0) {
            emit q->statusText(countdownText(Text::CheckWorkingClients, countdown));
            return;
        }
        advance(EngineEvent::CountdownEnded);
        checkTimer.stop();
        emit q->statusText(finishedText(Text::CheckWorkingClients));
        endMailing(false);
    }
};

ServerEngine::ServerEngine(ServerContext& context, const InterfaceTexts& texts, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(this, context, texts)) {
    d_->sendTimer.setSingleShot(true);
    d_->scanTimer.setInterval(1000);
    d_->checkTimer.setInterval(1000);
    connect(&d_->sendTimer, &QTimer::timeout, this, [this] {
        if (d_->advance(EngineEvent::WaitEnded)) d_->endMailing(true);
    });
    connect(&d_->scanTimer, &QTimer::timeout, this, [this] { d_->scanTick(); });
    connect(&d_->checkTimer, &QTimer::timeout, this, [this] { d_->checkTick(); });
}

ServerEngine::~ServerEngine() { shutdown(); }

void ServerEngine::setTiming(const Timing& timing) { d_->timing = timing; }

bool ServerEngine::startListener() {
    if (d_->listener.running()) return true;
    if (!d_->listener.open(d_->config().PortListen)) return false;
    d_->listener.start();
    return true;
}

void ServerEngine::sendRequest(const QString& editorText) {
    auto& d = *d_;
    if (d.closing()) return;
    if (d.mailingRuns()) {
        // The pass starts no further attempt and abandons those under way.
        d.mailing->stop();
        d.sendTimer.stop();
        d.advance(EngineEvent::Stop);
        emit sendButtonCaption(d.texts()[Text::SendMessage]);
        emit statusText(d.texts()[Text::SendingInterrupted]);
        return;
    }
    QString text = editorText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    bool anyChecked = false;
    {
        std::lock_guard lock(d.core.ctx.clientsLock);
        const auto& list = d.core.ctx.tree.records();
        anyChecked = std::any_of(list.begin(), list.end(), [](const ClientRecord& r) {
            return hasBits(r.checkMark, CheckMark::Checked);
        });
    }
    if (text.isEmpty() || !anyChecked) return;
    if (d.scannerBusy()) {
        emit statusText(d.english()
                            ? QStringLiteral("Wait until the clients scanner has finished")
                            : QStringLiteral("Дождитесь окончания работы сканера клиентов"));
        return;
    }
    d.closeWaitingMailing();
    const ServerConfig cfg = d.config();

    emit sendButtonCaption(d.texts()[Text::StopSending]);
    d.resetStates();
    text.truncate(static_cast<int>(kMsgTextWidth));
    const std::u16string rootId = makeMsgRootId();
    d.mailingRootId = tw::utf16ToUtf8(rootId);
    d.mailingText = text.toStdString();
    if (const auto interval = waitingInterval(cfg.Timer, cfg.Measure)) d.intervalMs = *interval;
    {
        std::lock_guard lock(d.core.ctx.clientsLock);
        d.openBook(cfg, toQString(rootId), text, d.intervalMs);
    }
    d.mailing = d.startPass(cfg, kSysReportsWanted, rootId, &text);
    d.sendTimer.start(d.intervalMs);
    d.advance(EngineEvent::Send);
    emit mailingProgressChanged();
}

std::optional<ServerEngine::MailingProgress> ServerEngine::mailingProgress() const {
    auto& core = d_->core;
    std::lock_guard lock(core.ctx.clientsLock);
    const auto& book = core.lastMailing;
    if (!book) return std::nullopt;
    MailingProgress p;
    p.waitEnds = book->waitEnds;
    p.ended = book->summaryWritten;
    if (book->summaryWritten) {
        p.counts = book->record.counts();
    } else if (book->listGeneration == core.listGeneration) {
        const auto& list = core.ctx.tree.records();
        for (const int i : book->positions)
            p.counts.add(list[static_cast<std::size_t>(i)].deliveryState);
    }
    return p;
}

std::vector<int> ServerEngine::followUp(FollowUp which) const {
    auto& core = d_->core;
    std::lock_guard lock(core.ctx.clientsLock);
    const auto& book = core.lastMailing;
    std::vector<int> out;
    if (!book || book->listGeneration != core.listGeneration) return out;
    const auto& list = core.ctx.tree.records();
    for (std::size_t k = 0; k < book->positions.size(); ++k) {
        const int i = book->positions[k];
        const DeliveryState state = book->summaryWritten
                                        ? book->record.clients[k].state
                                        : list[static_cast<std::size_t>(i)].deliveryState;
        const bool confirmed = state == DeliveryState::Confirmed;
        const bool wanted = which == FollowUp::Unconfirmed
                                ? !confirmed
                                : !confirmed && state != DeliveryState::Delivered;
        if (wanted) out.push_back(i);
    }
    return out;
}

QString ServerEngine::lastMailingText() const {
    std::lock_guard lock(d_->core.ctx.clientsLock);
    return d_->core.lastMailing ? d_->core.lastMailing->record.text : QString();
}

void ServerEngine::setHistoryFile(const std::filesystem::path& file) {
    d_->core.historyFile = file;
}

std::filesystem::path ServerEngine::historyFile() const { return d_->core.historyFile; }

bool ServerEngine::sending() const { return d_->mailingRuns(); }

bool ServerEngine::mailingWaiting() const {
    const EngineState s = d_->settled();
    return s == EngineState::Sending || s == EngineState::Waiting;
}

void ServerEngine::startNewClientsScan() {
    auto& d = *d_;
    if (d.closing()) return;
    const ServerConfig cfg = d.config();
    // Discovery always goes to the broadcast address, in broadcast mode or not.
    if (unusableBroadcastAddress(cfg.Broadcast_IP)) {
        emit messageBox(d.texts()[Text::ErrorTitle], d.texts()[Text::BadBroadcastAddress],
                        tw::platform::BoxIcon::Error);
        return;
    }
    if (d.refuseScannerJob(Text::ClientsScanner)) return;
    // The reload at the end of the scan replaces every record a waiting mailing reports on.
    d.closeWaitingMailing();
    d.collector.join();

    d.advance(EngineEvent::Scan);
    d.countdown = std::max(1, d.timing.scannerSeconds);
    emit statusText(d.countdownText(Text::ClientsScanner, d.countdown));
    d.scanTimer.start();

    const std::u16string rootId = makeMsgRootId();
    d.core.presence.open(toQString(rootId));
    CollectorJob job{cfg.Clients, cfg.SaveFormatName, cfg.SaveFormatValue};
    auto& core = d.core;
    d.collector =
        Worker([&core, job = std::move(job)]() mutable { runCollector(core, std::move(job)); },
               [&core] { core.presence.stop(true); });
    d.probe = d.startPass(cfg, kSysReportsWanted | kSysClientDiscover, rootId, nullptr);
}

void ServerEngine::startCheck(bool anyChecked) {
    auto& d = *d_;
    if (d.closing()) return;
    const ServerConfig cfg = d.config();
    if (cfg.Broadcast == 1 && unusableBroadcastAddress(cfg.Broadcast_IP)) {
        emit messageBox(d.texts()[Text::ErrorTitle], d.texts()[Text::BadBroadcastAddress],
                        tw::platform::BoxIcon::Error);
        return;
    }
    if (!anyChecked) {
        emit messageBox(d.texts()[Text::ErrorTitle], d.texts()[Text::NoCheckedClients],
                        tw::platform::BoxIcon::Error);
        return;
    }
    if (d.refuseScannerJob(Text::CheckWorkingClients)) return;
    d.closeWaitingMailing();
    d.resetStates();

    d.advance(EngineEvent::Check);
    d.countdown = std::max(1, d.timing.scannerSeconds);
    emit statusText(d.countdownText(Text::CheckWorkingClients, d.countdown));
    d.checkTimer.start();
    d.probe = d.startPass(cfg, kSysReportsWanted | kSysClientCheck, makeMsgRootId(), nullptr);
}

bool ServerEngine::scanRunning() const { return d_->state == EngineState::Scanning; }

QString ServerEngine::broadcastIndicator() const {
    return d_->config().Broadcast == 1 ? QStringLiteral("BROADCAST") : QStringLiteral("UNICAST");
}

bool ServerEngine::takeUdpWarning() {
    auto& settings = *d_->core.ctx.settings;
    const ServerConfig cfg = settings.snapshot();
    if (cfg.ProtoUseTCP != 0 || (cfg.WarningMask & 1)) return false;
    settings.setWarningMask(static_cast<std::uint8_t>(cfg.WarningMask | 1));
    return true;
}

bool ServerEngine::signingReserveFull() const {
    return d_->core.signing && d_->core.signing->full();
}

void ServerEngine::shutdown() {
    auto& d = *d_;
    d.settle();
    const EngineState was = d.state;
    if (!d.advance(EngineEvent::Close)) return;  // closing already
    // Every pass abandons its attempts at once; then all of them are waited for together.
    for (auto& p : d.passes) p.token->stop();
    d.listener.stop();
    d.reap(true);
    d.checkTimer.stop();
    d.scanTimer.stop();
    d.sendTimer.stop();
    switch (was) {
        case EngineState::Scanning:
            // The collector saves what it has gathered so far; the window ends after that.
            d.core.presence.stop(true);
            d.collector.join();
            break;
        case EngineState::Sending:
        case EngineState::Waiting:
            // The mailing's record in the event log is written now rather than lost.
            d.collector.join();
            d.endMailing(true);
            break;
        default:
            // A check that still counts down ends without its summary.
            d.collector.join();
            break;
    }
}

}  // namespace tw::server
