#pragma once
// The mailing history, mailings.jsonl in the server's working folder: one JSON object per
// line. A mailing's line is appended when its summary is written; a report that comes after
// that appends a short update line naming the mailing, the client and its new state. Lines
// are appended whole and never rewritten, so a crash loses at most the line being written,
// and a reader skips a line it cannot read.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "server/data/clients.h"
#include "server/data/texts.h"

namespace tw::server {

struct MailingCounts {
    int confirmed = 0;
    int delivered = 0;
    int notDelivered = 0;  // failed, or without news when the waiting time ended
    int waiting = 0;       // no news yet while the waiting time runs
    int total = 0;
    void add(DeliveryState state);
    bool operator==(const MailingCounts&) const = default;
};

struct MailingClient {
    QString name;
    QString address;
    DeliveryState state = DeliveryState::None;  // the record's delivery state
    QString reportTime;      // "hh:mm:ss", empty without a report
};

struct MailingRecord {
    QString rootId;
    QDateTime time;  // when it was sent, local time
    QString text;
    QString transport;                   // "TCP", "UDP" or "broadcast"
    std::vector<MailingClient> clients;  // the checked clients, in list order
    MailingCounts counts() const;
};

// One mailing as the history list shows it: everything but its clients.
struct MailingSummary {
    QString rootId;
    QDateTime time;
    QString text;
    QString transport;
    MailingCounts counts;
    qint64 offset = -1;  // where its line starts in the file
};

// The line of a mailing, and the update line of a late report about its client number
// `ordinal` (0-based, in the order of MailingRecord::clients), each ending in a line feed.
QByteArray mailingLine(const MailingRecord& mailing);
QByteArray lateReportLine(const QString& rootId, int ordinal, const MailingClient& client,
                          const MailingCounts& counts);

// Appends one line whole. False when the file cannot be written.
bool appendHistory(const std::filesystem::path& file, const QByteArray& line);

// Every mailing in the file, oldest first, with its counts as the latest update left them.
// Reads only the head of each mailing's line, so a long history opens quickly.
std::vector<MailingSummary> readHistoryList(const std::filesystem::path& file);

// One mailing with its clients, late reports applied; nothing when it is not in the file.
// `from` may name where its line starts (MailingSummary::offset): updates only follow it.
std::optional<MailingRecord> readMailing(const std::filesystem::path& file, const QString& rootId,
                                         qint64 from = 0);

// The words for a delivery state in the interface language ("Confirmed", "No news", ...).
QString stateWord(DeliveryState state, const InterfaceTexts& texts);

// The mailing as CSV (UTF-8, CR LF, a header row), one row per client. Fields that a
// spreadsheet would take for a formula are prefixed with an apostrophe: names come from the
// network.
QByteArray mailingCsv(const MailingRecord& mailing, const InterfaceTexts& texts);

}  // namespace tw::server
