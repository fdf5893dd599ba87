#pragma once
// Shared pieces of the engine tests: a Qt-aware wait, fake clients on their own loopback
// addresses, and a fixture that owns a server context and an engine.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/packets.h"
#include "common/text.h"
#include "server/engine/engine.h"
#include "tests/support/support.h"

namespace tw::test {

// One group of three clients on their own loopback addresses.
// Records: 0 root, 1 Office, 2 PC-A, 3 PC-B, 4 PC-C.
inline constexpr const char* kOffice =
    "<group name=\"Office\">\n"
    "<key name=\"PC-A\">127.0.0.2</key>\n"
    "<key name=\"PC-B\">127.0.0.3</key>\n"
    "<key name=\"PC-C\">127.0.0.4</key>\n"
    "</group>";

// Runs the Qt event loop (queued signals, timers) until `pred` holds or `timeout` passes.
template <class Pred>
bool waitUntil(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        QCoreApplication::processEvents();
        if (pred()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Sends a report to the server as a client at `from` (a 127.x address) would.
void sendReportFrom(const std::string& from, int serverPort, const ReportPacket& report,
                    Transport transport = Transport::Udp);

// A client workstation on its own loopback address: listens on `port` over UDP and TCP and
// answers like the real client (delivered for a text message, IAMHERE for discovery, ACTIVE
// for a check) unless told to stay silent.
class FakeClient {
public:
    struct Options {
        std::string address;  // "127.0.0.2", or "0.0.0.0" to hear broadcasts
        int port = 0;
        int serverPort = 0;
        std::string name;  // NetBIOS name, upper case
        std::string fqdn;
        bool answerText = true;
        bool answerProbes = true;
        // Replaces the answers above when set.
        std::function<void(const MessagePacket&, const std::string& peer, Transport)> onPacket;
    };
    explicit FakeClient(Options options);
    ~FakeClient();

    std::vector<MessagePacket> received() const;
    std::size_t count() const;
    bool waitForCount(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // A report about `answered` with `mask`, from this client's address.
    ReportPacket reportFor(const MessagePacket& answered, ReportKind mask) const;
    void answer(const MessagePacket& answered, ReportKind mask,
                Transport transport = Transport::Udp) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// A fake client at `address` (a 127.x address) named "PC-" + address, answering text
// messages when `answersText`.
FakeClient::Options clientAt(const char* address, int port, int serverPort,
                             bool answersText = true);

std::string debugLogText();  // the server's debug log of this test process
std::string eventLogText();  // the event log file of this test process
void clearLogs();

// One engine over one context, with every signal recorded.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes clients.xml and loads it into the context.
    void loadClients(const std::string& xmlBody);
    // Replaces the list by hand (for records the loader would not make, e.g. lower case).
    void setRecords(tw::server::ClientsList list);
    void check(int index, tw::server::CheckMark mark = tw::server::CheckMark::Checked);
    void startEngine(tw::server::ServerEngine::Timing timing = {});
    tw::server::ClientRecord record(int index);  // a copy, taken under the lock
    std::uint8_t state(int index) { return tw::server::bitsOf(record(index).deliveryState); }
    bool statusSeen(const QString& text) const { return statuses.contains(text); }

    TempDir dir;
    // The settings a test wants; startEngine() hands them to the owner, and a test that
    // changes them later does so itself (settings.replace(cfg)).
    tw::server::ServerConfig cfg;
    tw::server::ServerSettings settings;
    tw::server::ServerContext ctx;
    tw::server::InterfaceTexts texts;
    std::unique_ptr<tw::server::ServerEngine> engine;

    QStringList statuses, captions, boxes, fatals;
    int reloads = 0;
    int itemSignals = 0;
};

}  // namespace tw::test
