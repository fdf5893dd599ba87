#pragma once
// What the engine's facade and its worker threads share. The records themselves live in the
// ServerContext and are guarded by its clientsLock; so are the index and the generation here.
#include <QString>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "server/data/history.h"
#include "server/engine/engine.h"
#include "server/engine/report_matcher.h"
#include "server/engine/scanner.h"
#include "server/engine/signing_reserve.h"

namespace tw::server::engine {

struct Core {
    Core(ServerContext& context, const InterfaceTexts& interfaceTexts, ServerEngine* engine)
        : ctx(context), texts(interfaceTexts), q(engine) {
        if (ctx.keys.signing) {
            signing = std::make_unique<SigningReserve>(*ctx.keys.signing, [this] {
                std::lock_guard lock(ctx.clientsLock);
                return ctx.tree.records().size();
            });
        }
    }

    ServerContext& ctx;
    const InterfaceTexts& texts;
    // Its signals may be emitted from any thread: Qt queues them to the window's thread.
    ServerEngine* q;

    // Guarded by ctx.clientsLock.
    ReportMatcher matcher;
    std::uint64_t listGeneration = 0;  // one more per reload after a scan

    // The last mailing: which records it went to and, once its summary is written, the
    // outcome that the history holds, kept up to date by late reports.
    struct MailingBook {
        MailingRecord record;
        std::vector<int> positions;  // list positions of its checked clients, ascending
        std::uint64_t listGeneration = 0;
        bool summaryWritten = false;
        QDateTime waitEnds;  // when the waiting time ends, or ended
    };
    std::optional<MailingBook> lastMailing;               // guarded by ctx.clientsLock
    std::filesystem::path historyFile{"mailings.jsonl"};  // set before any worker runs

    PresenceQueue presence;

    // With SigningKey: the signer of every packet sent, with its reserve of nonce points kept
    // for as many packets as there are records. It lives as long as the core, so longer than
    // any pass that signs with it.
    std::unique_ptr<SigningReserve> signing;

    // With the lock held: makes sure the address index describes the current list.
    void ensureIndex() {
        if (!matcher.builtFor(ctx.tree.records())) matcher.rebuild(ctx.tree.records());
    }
};

void debugLine(const QString& line);
// The current local time as "hh:mm:ss".
QString timeOfDay();
QString toQString(const std::u16string& s);
std::u16string toU16(const QString& s);

}  // namespace tw::server::engine
