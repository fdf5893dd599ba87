#pragma once
// Finds the client records a report belongs to without walking the whole clients list: the
// records are indexed by the (RootId, GUID) pair the sender left in them and by their address
// in upper case. The result is exactly what a walk over the list in list order would find,
// with the same rule names and the same count of neighbouring matches.
#include <QHash>
#include <QString>
#include <vector>

#include "server/data/clients.h"

namespace tw::server::engine {

struct ReportKey {
    QString rootId;      // MsgRootId of the report
    QString guid;        // MsgGUID of the report
    QString senderIp;    // dotted address the report came from
    QString clientName;  // NetBIOS name the client gave
    QString clientFqdn;  // fully qualified name the client gave
};

struct Match {
    int index = 0;          // position in the clients list
    const char* rule = "";  // "RootId+GUID", "IP-address", "NETBIOS name", "FQDN"
    int run = 0;            // consecutive matches up to this record, this one included
};

// Not thread-safe: the caller holds the clients lock, as for the records themselves.
class ReportMatcher {
public:
    // Indexes a freshly loaded list: the addresses, which never change until the next load,
    // and the ids the records already hold; noteSent() keeps the latter current.
    void rebuild(const ClientsList& list);
    // True when rebuild() saw a list of this size since the last invalidate().
    bool builtFor(const ClientsList& list) const;
    void invalidate();

    // The sender stored `rootId` and `guid` in record `index`.
    void noteSent(int index, const QString& rootId, const QString& guid);
    // Drops the GUID index (the GUIDs of the records were emptied).
    void forgetSent();

    // The matching records in ascending list order. Entries of the indexes are checked
    // against the records, so a stale entry never produces a match.
    std::vector<Match> match(const ClientsList& list, const ReportKey& report,
                             bool broadcast) const;

private:
    bool built_ = false;
    std::size_t builtSize_ = 0;
    QHash<QString, std::vector<int>> byAddress_;  // upper-cased address
    QHash<QString, std::vector<int>> bySent_;     // rootId + '\n' + guid
};

// The rule that makes `record` match the report, or null. Records that were never sent a
// message (empty message id) match nothing.
const char* matchRule(const ClientRecord& record, const ReportKey& report, bool broadcast);

}  // namespace tw::server::engine
