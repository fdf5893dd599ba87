// A keyed server over loopback: every packet it sends carries a signature that the operator's
// public key verifies, and with the office key a report without a valid MAC changes nothing.
#include <atomic>
#include <future>
#include <set>

#include "common/auth.h"
#include "common/net.h"
#include "tests/server_engine/engine_test_support.h"

using namespace tw::server;
using namespace tw::test;
namespace auth = tw::auth;

namespace {

struct Keys {
    auth::Key operatorSecret, operatorPublic, office;
};

Keys makeKeys(const TempDir& dir) {
    const auto folder = dir / "keys";
    std::filesystem::create_directory(folder);
    EXPECT_EQ(auth::generateKeys(folder), "");
    const auto read = [&](const char* name, auth::KeyKind kind) {
        auto r = auth::readKeyFile(folder / name, kind);
        EXPECT_TRUE(r.key) << r.error;
        return r.key.value_or(auth::Key{});
    };
    return {read("operator.key", auth::KeyKind::OperatorSecret),
            read("operator.pub", auth::KeyKind::OperatorPublic),
            read("office.key", auth::KeyKind::Office)};
}

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

class SecurityTest : public EngineTest {
protected:
    Keys keys = makeKeys(dir);
    auth::ReplayGuard guard;  // one workstation's memory: no nonce may come twice
    std::set<std::vector<std::uint8_t>> noncePoints;  // R of every signature: never twice

    // Every packet `peer` has heard since `from`: it verifies under the public key and its
    // record is the one the server meant. Returns the records.
    std::vector<tw::MessagePacket> verifiedSince(const TestPeer& peer, std::size_t from) {
        std::vector<tw::MessagePacket> out;
        const auto got = peer.received();
        for (std::size_t i = from; i < got.size(); ++i) {
            const auto& data = got[i].data;
            EXPECT_EQ(data.size(),
                      tw::kMessagePacketSize + auth::kTrailerHead + auth::kSignatureBytes);
            EXPECT_EQ(auth::verify(data, tw::kMessagePacketSize, keys.operatorPublic, guard,
                                   auth::nowMs()),
                      auth::Verdict::Ok)
                << "packet " << i;
            const auto sig = data.end() - static_cast<long>(auth::kSignatureBytes);
            EXPECT_TRUE(noncePoints.emplace(sig, sig + 32).second)
                << "packet " << i << " reuses a signature nonce";
            out.push_back(tw::MessagePacket::parse(data));
        }
        return out;
    }
};

}  // namespace

TEST_F(SecurityTest, keyedServer_signsEveryPacketOfEveryKind) {
    // More clients than one signing batch, so that batches are signed while others go out,
    // and one batch left over at the end.
    writeFile(dir / "clients.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root config=\"3.1\">\n"
              "<list name=\"Net\">127.0.1.1-127.0.1.14</list>\n</root>\n");
    {
        std::lock_guard lock(ctx.clientsLock);
        ASSERT_FALSE(
            LoadClientsDatabase(dir / "clients.xml", ctx.tree.records(), nullptr, texts).failed());
        ctx.tree.rebuildIndex();
    }
    const std::size_t clients = 14;
    for (int i = 0; i < static_cast<int>(clients) + 2; ++i) check(i);
    ctx.keys.signing = keys.operatorSecret;
    TestPeer network(cfg.PortSender);
    ServerEngine::Timing timing;
    timing.scannerSeconds = 1;
    timing.signingBatch = 4;
    startEngine(timing);
    // While the operator writes, the signer makes a nonce point for every client; the passes
    // below sign with those, and the TCP pass after the reserve has been topped up again.
    ASSERT_TRUE(waitUntil([&] { return engine->signingReserveFull(); }));

    // UDP unicast: each client's packet has its own GUID and its own signature.
    engine->sendRequest(QStringLiteral("signed over UDP"));
    ASSERT_TRUE(network.waitForCount(clients));
    ASSERT_TRUE(waitUntil([&] { return statusSeen(QStringLiteral("Sending finished")); }));
    auto packets = verifiedSince(network, 0);
    ASSERT_EQ(packets.size(), clients);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].msgText, u"signed over UDP");
        // Sent in list order, so packet i is record i + 2's (root and list come first).
        EXPECT_EQ(packets[i].msgGuid, record(static_cast<int>(i) + 2).messageGuid.toStdU16String());
    }

    // The check probe takes the same road; TCP and the broadcast branch sign their packets too.
    statuses.clear();
    std::size_t seen = network.count();
    engine->startCheck(true);
    ASSERT_TRUE(network.waitForCount(seen + clients));
    ASSERT_TRUE(waitUntil([&] { return !engine->scanRunning() && statuses.size() >= 2; }));
    for (const auto& p : verifiedSince(network, seen)) EXPECT_EQ(p.systemMessage, 5);

    cfg.ProtoUseTCP = 1;
    settings.replace(cfg);
    statuses.clear();
    ASSERT_TRUE(waitUntil([&] { return engine->signingReserveFull(); }));
    seen = network.count();
    engine->sendRequest(QStringLiteral("signed over TCP"));
    ASSERT_TRUE(network.waitForCount(seen + clients, std::chrono::seconds(30)));
    for (const auto& p : verifiedSince(network, seen)) EXPECT_EQ(p.msgText, u"signed over TCP");

    ASSERT_TRUE(waitUntil([&] { return statusSeen(QStringLiteral("Sending finished")); }));
    cfg.Broadcast = 1;
    settings.replace(cfg);
    seen = network.count();
    engine->sendRequest(QStringLiteral("signed broadcast"));
    ASSERT_TRUE(network.waitForCount(seen + 1));
    const auto broadcast = verifiedSince(network, seen);
    ASSERT_EQ(broadcast.size(), 1u);
    EXPECT_EQ(broadcast[0].msgText, u"signed broadcast");
}

TEST_F(SecurityTest, stopWhileABatchIsSigned_sendsNothingMoreAndEndsThePass) {
    writeFile(dir / "clients.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root config=\"3.1\">\n"
              "<list name=\"Net\">127.0.2.1-127.0.2.200</list>\n</root>\n");
    {
        std::lock_guard lock(ctx.clientsLock);
        ASSERT_FALSE(
            LoadClientsDatabase(dir / "clients.xml", ctx.tree.records(), nullptr, texts).failed());
        ctx.tree.rebuildIndex();
    }
    for (int i = 0; i < 202; ++i) check(i);
    ctx.keys.signing = keys.operatorSecret;
    TestPeer network(cfg.PortSender);
    ServerEngine::Timing timing;
    timing.signingBatch = 4;
    startEngine(timing);

    // The pass is held while it gives the ninth client its ids: the first batch has gone out,
    // the second is being signed. Stop comes exactly then.
    std::promise<void> released;
    const std::shared_future<void> release = released.get_future().share();
    std::atomic<bool> held{false};
    QObject::connect(engine.get(), &ServerEngine::statusText, [&](const QString& text) {
        if (text != QStringLiteral("Sending... 9/200")) return;
        held = true;
        release.wait_for(std::chrono::seconds(30));
    });
    engine->sendRequest(QStringLiteral("stopped"));
    ASSERT_TRUE(waitUntil([&] { return held.load(); }));
    ASSERT_TRUE(network.waitForCount(4));
    engine->sendRequest(QStringLiteral("stopped"));  // the same button: Stop
    released.set_value();
    engine->shutdown();

    EXPECT_FALSE(statusSeen(QStringLiteral("Sending finished")));
    ASSERT_EQ(verifiedSince(network, 0).size(), 4u) << "only the batch signed before Stop";
}

TEST_F(SecurityTest, unkeyedServer_sendsTheBareRecord) {
    loadClients(kOffice);
    check(2);
    TestPeer network(cfg.PortSender);
    startEngine();
    engine->sendRequest(QStringLiteral("plain"));
    ASSERT_TRUE(network.waitForCount(1));
    EXPECT_EQ(network.received()[0].data.size(), tw::kMessagePacketSize);
}

TEST_F(SecurityTest, officeKey_forgedConfirmationsAreRejectedAndTheRealOneCounts) {
    loadClients(kOffice);
    {
        std::lock_guard lock(ctx.clientsLock);
        auto& r = ctx.tree.records()[3];  // PC-B, 127.0.0.3
        r.setMessageId(QStringLiteral("R"));
        r.setMessageGuid(QStringLiteral("G"));
    }
    ctx.keys.office = keys.office;
    ctx.keys.maxClockSkew = std::chrono::seconds(600);
    startEngine();

    tw::ReportPacket confirmed;
    confirmed.msgRootId = u"R";
    confirmed.msgGuid = u"G";
    confirmed.kind = tw::ReportKind::Confirmed;
    const auto record = confirmed.serialize();
    auth::Key wrong = keys.office;
    wrong.bytes[0] ^= 1;
    const auto real = auth::mac(record, keys.office, auth::nowMs());
    auto tampered = real;
    tampered[10] ^= 1;  // a byte of the client name under a valid MAC

    const auto sendRaw = [&](const std::vector<std::uint8_t>& bytes, tw::Transport t) {
        // From 127.0.0.1: in unicast mode the GUID, not the address, finds the record.
        ASSERT_TRUE(tw::net::sendBlock("127.0.0.1", cfg.PortListen, t, bytes));
    };
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
        tw::Transport transport;
        const char* reason;
    } forged[] = {
        {"no MAC", {record.begin(), record.end()}, tw::Transport::Udp, "no signature"},
        {"wrong key", auth::mac(record, wrong, auth::nowMs()), tw::Transport::Tcp, "bad signature"},
        {"changed byte", tampered, tw::Transport::Udp, "bad signature"},
        {"20 minutes old", auth::mac(record, keys.office, auth::nowMs() - 20 * 60 * 1000),
         tw::Transport::Udp, "time stamp outside the allowed clock skew"},
    };
    for (const auto& f : forged) {
        const std::string line = std::string("LISTEN: REJECTED: 127.0.0.1: ") + f.reason + "\r\n";
        const int before = countOf(debugLogText(), line);
        sendRaw(f.bytes, f.transport);
        ASSERT_TRUE(waitFor([&] { return countOf(debugLogText(), line) > before; })) << f.what;
        EXPECT_EQ(state(3), 0) << f.what;
    }
    EXPECT_EQ(countOf(debugLogText(), "INCOMING PACKET"), 0) << "a rejected report is not read";

    // The real report, over TCP, counts; sent again it is a replay.
    sendRaw(real, tw::Transport::Tcp);
    ASSERT_TRUE(waitUntil([&] { return state(3) == 2; }));
    {
        std::lock_guard lock(ctx.clientsLock);
        ctx.tree.records()[3].deliveryState = tw::server::DeliveryState::None;
    }
    sendRaw(real, tw::Transport::Udp);
    ASSERT_TRUE(waitFor([&] {
        return debugLogText().find("LISTEN: REJECTED: 127.0.0.1: replayed\r\n") !=
               std::string::npos;
    }));
    EXPECT_EQ(state(3), 0);
}

TEST_F(SecurityTest, discoveryIsSignedAndAForgedPresenceAnswerNeverReachesTheScan) {
    ctx.keys.signing = keys.operatorSecret;
    ctx.keys.office = keys.office;
    loadClients(kOffice);
    cfg.SaveFormatName = cfg.SaveFormatValue = 0;
    TestPeer network(cfg.PortSender);  // hears the probe to 127.255.255.255
    ServerEngine::Timing timing;
    timing.scannerSeconds = 1;
    startEngine(timing);
    engine->startNewClientsScan();
    ASSERT_TRUE(network.waitForCount(1));
    const auto probe = verifiedSince(network, 0);
    ASSERT_EQ(probe.size(), 1u);
    EXPECT_EQ(probe[0].systemMessage, 3);

    tw::ReportPacket here;
    here.msgRootId = probe[0].msgRootId;
    here.clientName = u"INTRUDER";
    here.kind = tw::ReportKind::IAmHere;
    sendReportFrom("127.0.0.7", cfg.PortListen, here);
    here.clientName = u"PC-REAL";
    const auto r = here.serialize();
    ASSERT_TRUE(tw::net::sendBlock("127.0.0.1", cfg.PortListen, tw::Transport::Udp,
                                   auth::mac(r, keys.office, auth::nowMs())));
    ASSERT_TRUE(waitUntil([&] { return reloads == 1; }));
    const std::string xml = readFile(dir / "clients.xml");
    EXPECT_NE(xml.find("<key name=\"127.0.0.1\">127.0.0.1</key>"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("127.0.0.7"), std::string::npos) << xml;
    EXPECT_NE(debugLogText().find("LISTEN: REJECTED: 127.0.0.7: no signature"), std::string::npos);
}
