#pragma once
// The server's workers: the sender (mailings and probes), the report listener and the
// client scanner, behind one facade that the window drives. Workers never touch widgets:
// everything the window must show comes out of the signals below, delivered to the window's
// thread by queued connections.
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "common/auth.h"
#include "common/packets.h"
#include "common/platform/message_box.h"
#include "server/data/client_tree.h"
#include "server/data/config.h"
#include "server/data/history.h"
#include "server/data/texts.h"
#include "server/engine/server_settings.h"

namespace tw::server {

// The keys named by the [Security] settings, read once at start-up and never changed after.
struct SecurityKeys {
    std::optional<auth::Key> signing;  // operator secret key: every packet sent is signed
    std::optional<auth::Key> office;   // reports without its MAC change nothing
    std::chrono::seconds maxClockSkew = auth::kDefaultMaxClockSkew;
};

// Reads the key files that `config` names into `out`. Each fault (a file missing,
// unreadable, malformed, of the wrong kind, or a secret one readable by others) is one text
// in the interface language naming the file; the server does not start with any of them.
QStringList loadSecurityKeys(const ServerConfig& config, const InterfaceTexts& texts,
                             SecurityKeys& out);

// What the window and the workers share. The window thread owns it; the clients tree (records
// and their fields) is guarded by clientsLock everywhere, also on the window thread.
struct ServerContext {
    ClientTree tree;
    ServerSettings* settings = nullptr;  // set before the engine is made
    MessagePacket outgoing;
    std::mutex clientsLock;
    QString hostName;   // this computer's host name, upper-cased: ServerName of every packet
    SecurityKeys keys;  // set before the engine is made; read-only afterwards
};

class ServerEngine : public QObject {
    Q_OBJECT
public:
    // Made once the clients list is loaded: with a signing key it starts preparing a
    // signature's costly half for every client of that list (a scan's reload tops up).
    ServerEngine(ServerContext& context, const InterfaceTexts& texts, QObject* parent = nullptr);
    ~ServerEngine() override;

    // Opens the report listener on PortListen (UDP first, then TCP) and starts its thread.
    // False when a port cannot be opened: the caller shows the busy-port box and exits 1.
    bool startListener();

    // The click on the send button (or Ctrl+Enter): starts a mailing of `editorText` to the
    // checked clients, or stops the running pass.
    void sendRequest(const QString& editorText);
    bool sending() const;

    // The two scanner menu entries. `anyChecked` is the window's any-checked flag.
    void startNewClientsScan();
    void startCheck(bool anyChecked);
    bool scanRunning() const;  // a new-clients scan is counting down

    // "BROADCAST" or "UNICAST" for the status bar's second field.
    QString broadcastIndicator() const;

    // The one-time UDP warning: true when it must be shown now (the bit is then set in
    // WarningMask).
    bool takeUdpWarning();

    // A mailing's waiting time runs (#Timer_Send): its end writes the summary.
    bool mailingWaiting() const;

    // Where the last mailing stands: its counts, and when its waiting time ends or ended.
    // Nothing before the first mailing.
    struct MailingProgress {
        MailingCounts counts;
        QDateTime waitEnds;
        bool ended = false;  // the summary was written
    };
    std::optional<MailingProgress> mailingProgress() const;

    // The last mailing's clients that did not confirm, or that were not delivered (neither
    // delivered nor confirmed), as list positions; empty when there is none.
    enum class FollowUp { Unconfirmed, Undelivered };
    std::vector<int> followUp(FollowUp which) const;
    QString lastMailingText() const;

    // The mailing history (mailings.jsonl in the working folder unless set before the
    // listener starts).
    void setHistoryFile(const std::filesystem::path& file);
    std::filesystem::path historyFile() const;

    // Time limits of the workers. Tests shorten them; the defaults are the program's.
    struct Timing {
        std::chrono::milliseconds connectTimeout{5000};  // per client, TCP
        int scannerSeconds = 10;                         // countdown of a scan or a check
        // TCP attempts of a pass at once; 0: as many as the descriptor limit allows.
        std::size_t tcpInFlight = 0;
        // Packets signed together while the batch before goes out (signed UDP passes).
        std::size_t signingBatch = 128;
    };
    void setTiming(const Timing& timing);

    // With SigningKey: the reserve of nonce points made ahead of time holds one for every
    // client, so a signed pass starting now spends its time sending (benchmarks and tests
    // wait for it; the program never needs to).
    bool signingReserveFull() const;

    // The window is closing: stops the workers, then either finishes a running scan (its
    // collector saves what it has) or closes a waiting mailing with its event-log summary.
    // Returns when all of that is done.
    void shutdown();

signals:
    void statusText(const QString& text);  // to ShowStatus
    void sendButtonCaption(const QString& caption);
    void itemsChanged(const QVector<int>& indices);  // tree items whose image or check to redraw
    void clientsReloaded();                          // the list was reloaded after a scan:
                                                     // rebuild the tree, expand items 0 and 1
    void messageBox(const QString& title, const QString& text, tw::platform::BoxIcon icon);
    void fatalError(const QString& text, int exitCode);  // e.g. a broken database after a scan
    void mailingProgressChanged();  // a mailing started or its summary was written

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace tw::server
