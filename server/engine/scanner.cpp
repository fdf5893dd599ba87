#include "server/engine/scanner.h"

#include <QStringList>
#include <filesystem>
#include <system_error>

#include "common/platform/fault_report.h"
#include "server/data/clients_xml.h"
#include "server/engine/engine_core.h"

namespace tw::server::engine {

bool unusableBroadcastAddress(const QString& address) {
    if (address == QStringLiteral("255.255.255.255")) return true;
    const QStringList fields = address.split(QLatin1Char('.'));
    return fields.size() >= 4 && fields[3] == QStringLiteral("0");
}

void PresenceQueue::open(const QString& rootId) {
    std::lock_guard lock(mutex_);
    answers_.clear();
    rootId_ = toU16(rootId);
    open_ = true;
    quitting_ = false;
}

void PresenceQueue::offer(const ReportPacket& answer) {
    {
        std::lock_guard lock(mutex_);
        if (!open_ || answer.msgRootId != rootId_) return;
        answers_.push_back(answer);
    }
    wake_.notify_one();
}

std::optional<ReportPacket> PresenceQueue::take() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return !answers_.empty() || !open_; });
    if (answers_.empty()) return std::nullopt;
    ReportPacket answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
}

void PresenceQueue::stop(bool quitting) {
    {
        std::lock_guard lock(mutex_);
        open_ = false;
        quitting_ = quitting_ || quitting;
    }
    wake_.notify_all();
}

bool PresenceQueue::quitting() const {
    std::lock_guard lock(mutex_);
    return quitting_;
}

namespace {

QString answerField(const ReportPacket& answer, std::uint8_t format) {
    switch (format) {
        case 1:
            return toQString(answer.clientName);
        case 2:
            return toQString(answer.clientFqdn);
        default:
            return toQString(answer.clientAddr);
    }
}

}  // namespace

void runCollector(Core& core, CollectorJob job) {
    tw::platform::prepareFaultStackForThread();
    XmlElement root = newClientsDocument();
    XmlElement& group = root.addChild(QStringLiteral("group"));
    group.attributes.emplace_back(QStringLiteral("name"), core.texts[Text::ClientsScanner]);
    // Answers are not checked for duplicates: a client that answers twice is listed twice.
    while (const auto answer = core.presence.take()) {
        XmlElement& key = group.addChild(QStringLiteral("key"));
        key.attributes.emplace_back(QStringLiteral("name"), answerField(*answer, job.nameFormat));
        key.text = answerField(*answer, job.valueFormat);
    }

    const auto path = dataFilePath(job.clientsPath);
    const ReplaceResult written = replaceClientsDocument(path, root);
    if (core.presence.quitting()) return;  // the window waits for the file and then ends
    if (!written.saved) {
        // The old database stays in place and in memory; the operator must know the scan's
        // result is gone.
        std::error_code ec;
        const bool copyFailed = !written.backupKept && std::filesystem::exists(path, ec);
        emit core.q->messageBox(
            core.texts[Text::ErrorTitle],
            copyFailed ? core.texts[Text::ClientsBackupFailed].arg(
                             QString::fromStdString(backupPathFor(path).filename().string()))
                       : core.texts[Text::CantCreateClientsFile],
            tw::platform::BoxIcon::Error);
        return;
    }
    if (written.backupKept)
        emit core.q->statusText(core.texts[Text::ClientsScanner] + QStringLiteral(": ") +
                                core.texts[Text::BackupKept].arg(QString::fromStdString(
                                    backupPathFor(path).filename().string())));

    // The file is read without the clients lock, and the new list swapped in under it: the
    // listener and the window never wait for a disk.
    ClientsList fresh;
    const LoadResult result = LoadClientsDatabase(path, fresh, nullptr, core.texts);
    {
        std::lock_guard lock(core.ctx.clientsLock);
        core.ctx.tree.records().swap(fresh);
        core.ctx.tree.rebuildIndex();
        core.matcher.invalidate();
        ++core.listGeneration;
    }
    fresh.clear();  // the old records, freed outside the lock as well
    if (core.signing) core.signing->topUp();  // the new list may be longer
    if (result.failed()) {
        emit core.q->fatalError(result.message, -1);
        return;
    }
    emit core.q->clientsReloaded();
}

}  // namespace tw::server::engine
