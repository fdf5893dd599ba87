#include "server/engine/report_matcher.h"

#include <algorithm>

namespace tw::server::engine {

namespace {

QString sentKey(const QString& rootId, const QString& guid) {
    return rootId + QLatin1Char('\n') + guid;
}

}  // namespace

const char* matchRule(const ClientRecord& record, const ReportKey& report, bool broadcast) {
    // An empty message id would otherwise equal the empty RootId of a malformed report and
    // mark every record of the list, folders included.
    if (record.messageId.isEmpty() || record.messageId != report.rootId) return nullptr;
    if (!broadcast) {
        // Records of a broadcast mailing share an empty GUID: matching on it would let one
        // client's report mark every one of them.
        return !record.messageGuid.isEmpty() && record.messageGuid == report.guid ? "RootId+GUID"
                                                                                  : nullptr;
    }
    if (record.address == report.senderIp) return "IP-address";
    const QString address = record.address.toUpper();
    if (address == report.clientName.toUpper()) return "NETBIOS name";
    if (address == report.clientFqdn.toUpper()) return "FQDN";
    return nullptr;
}

void ReportMatcher::rebuild(const ClientsList& list) {
    byAddress_.clear();
    bySent_.clear();
    byAddress_.reserve(static_cast<qsizetype>(list.size()));
    for (std::size_t i = 0; i < list.size(); ++i) {
        const ClientRecord& r = list[i];
        if (r.folder) continue;  // folders are never sent anything
        byAddress_[r.address.toUpper()].push_back(static_cast<int>(i));
        if (!r.messageId.isEmpty() && !r.messageGuid.isEmpty())
            bySent_[sentKey(r.messageId, r.messageGuid)].push_back(static_cast<int>(i));
    }
    built_ = true;
    builtSize_ = list.size();
}

bool ReportMatcher::builtFor(const ClientsList& list) const {
    return built_ && builtSize_ == list.size();
}

void ReportMatcher::invalidate() {
    built_ = false;
    byAddress_.clear();
    bySent_.clear();
}

void ReportMatcher::noteSent(int index, const QString& rootId, const QString& guid) {
    auto& slot = bySent_[sentKey(rootId, guid)];
    if (slot.empty() || slot.back() != index) slot.push_back(index);
}

void ReportMatcher::forgetSent() { bySent_.clear(); }

std::vector<Match> ReportMatcher::match(const ClientsList& list, const ReportKey& report,
                                        bool broadcast) const {
    std::vector<int> candidates;
    const auto take = [&](const auto& map, const QString& key) {
        const auto it = map.constFind(key);
        if (it != map.constEnd()) candidates.insert(candidates.end(), it->begin(), it->end());
    };
    if (!broadcast) {
        take(bySent_, sentKey(report.rootId, report.guid));
    } else {
        take(byAddress_, report.senderIp.toUpper());
        take(byAddress_, report.clientName.toUpper());
        take(byAddress_, report.clientFqdn.toUpper());
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

    std::vector<Match> out;
    out.reserve(candidates.size());
    for (const int i : candidates) {
        if (i < 0 || static_cast<std::size_t>(i) >= list.size()) continue;
        const char* rule = matchRule(list[static_cast<std::size_t>(i)], report, broadcast);
        if (!rule) continue;
        // The counter of a walk in list order: it grows over an unbroken run of matching
        // neighbours and starts again after any record that does not match.
        const int run = (!out.empty() && out.back().index == i - 1) ? out.back().run + 1 : 1;
        out.push_back(Match{i, rule, run});
    }
    return out;
}

}  // namespace tw::server::engine
