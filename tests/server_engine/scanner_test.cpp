// The client scanner: discovery with a new database, the check of working clients, and the
// window closing in the middle of a scan.
#include "tests/server_engine/engine_test_support.h"

using namespace tw::server;
using namespace tw::test;

namespace {

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

// Hears the discovery datagram on every loopback address and answers for `hosts` clients
// (127.0.0.2 onwards), after one answer that belongs to an earlier probe.
FakeClient::Options network(int port, int serverPort, int hosts) {
    FakeClient::Options o;
    o.address = "0.0.0.0";
    o.port = port;
    o.serverPort = serverPort;
    o.onPacket = [serverPort, hosts](const tw::MessagePacket& p, const std::string&,
                                     tw::Transport) {
        if (!(p.systemMessage & tw::kSysClientDiscover)) return;
        tw::ReportPacket stale;
        stale.msgRootId = u"1";
        stale.clientName = u"STALE";
        stale.kind = tw::ReportKind::IAmHere;
        sendReportFrom("127.0.0.9", serverPort, stale);
        for (int i = 0; i < hosts; ++i) {
            tw::ReportPacket r;
            const std::string n = std::to_string(i + 2);
            r.clientName = tw::utf8ToUtf16("PC-" + n);
            r.clientFqdn = tw::utf8ToUtf16("PC-" + n + ".EXAMPLE.TEST");
            r.msgRootId = p.msgRootId;
            r.msgGuid = p.msgGuid;
            r.kind = tw::ReportKind::IAmHere;
            sendReportFrom("127.0.0." + n, serverPort, r);
        }
    };
    return o;
}

}  // namespace

TEST_F(EngineTest, newClientsScan_writesTheAnswersAsANewDatabaseAndReloadsIt) {
    loadClients(kOffice);
    const std::string handBuilt = readFile(dir / "clients.xml");
    writeFile(dir / "clients.xml.bak", "a copy from an earlier scan");
    check(2);
    cfg.SaveFormatName = 1;   // NetBIOS name as caption
    cfg.SaveFormatValue = 0;  // IP address as address
    FakeClient lan(network(cfg.PortSender, cfg.PortListen, 3));
    ServerEngine::Timing timing;
    timing.scannerSeconds = 2;
    startEngine(timing);

    engine->startNewClientsScan();
    EXPECT_TRUE(engine->scanRunning());
    EXPECT_EQ(statuses.value(0), QStringLiteral("Clients scanner: 2 sec"));
    ASSERT_TRUE(lan.waitForCount(1));
    EXPECT_EQ(lan.received().at(0).systemMessage, 3);

    // A mailing would lose its states to the reload: it waits for the scanner.
    engine->sendRequest(QStringLiteral("x"));
    EXPECT_EQ(statuses.last(), QStringLiteral("Wait until the clients scanner has finished"));
    EXPECT_TRUE(captions.isEmpty());

    ASSERT_TRUE(waitUntil([&] { return reloads == 1; }));
    EXPECT_FALSE(engine->scanRunning());
    EXPECT_TRUE(statusSeen(QStringLiteral("Clients scanner: 1 sec")));
    EXPECT_TRUE(statusSeen(QStringLiteral("Clients scanner: job finished.")));
    const std::string file = readFile(dir / "clients.xml");
    EXPECT_NE(file.find("    <group name=\"Clients scanner\">\n"), std::string::npos) << file;
    for (const char* key : {"        <key name=\"PC-2\">127.0.0.2</key>\n",
                            "        <key name=\"PC-3\">127.0.0.3</key>\n",
                            "        <key name=\"PC-4\">127.0.0.4</key>\n"})
        EXPECT_NE(file.find(key), std::string::npos) << file;
    EXPECT_EQ(file.find("STALE"), std::string::npos) << "an answer to another probe is dropped";
    // The database the scan replaced is kept beside it, over the copy of the scan before.
    EXPECT_EQ(readFile(dir / "clients.xml.bak"), handBuilt);
    EXPECT_TRUE(statusSeen(
        QStringLiteral("Clients scanner: the previous database is kept as clients.xml.bak")));

    ASSERT_EQ(ctx.tree.records().size(), 5u);
    EXPECT_EQ(record(1).name, QStringLiteral("Clients scanner"));
    EXPECT_EQ(record(1).folder, 1);
    EXPECT_EQ(record(2).checkMark, CheckMark::Unchecked);
    EXPECT_TRUE(fatals.isEmpty());
    EXPECT_NE(
        debugLogText().find("SENDER: === #M_SYS_CLIENT_DISCOVER BROADCAST PROBE LAUNCHED ====\r\n"),
        std::string::npos);
}

TEST_F(EngineTest, newClientsScan_leavesTheDatabaseAloneWhenItCannotKeepACopy) {
    loadClients(kOffice);
    const std::string handBuilt = readFile(dir / "clients.xml");
    std::filesystem::create_directory(dir / "clients.xml.bak");  // no copy can go there
    FakeClient lan(network(cfg.PortSender, cfg.PortListen, 1));
    ServerEngine::Timing timing;
    timing.scannerSeconds = 1;
    startEngine(timing);

    engine->startNewClientsScan();
    ASSERT_TRUE(waitUntil([&] { return !boxes.isEmpty(); }));
    EXPECT_EQ(boxes.last(), QStringLiteral("Error: Can't keep a copy of the clients database as "
                                           "clients.xml.bak; clients.xml was not replaced."));
    EXPECT_EQ(readFile(dir / "clients.xml"), handBuilt);
    EXPECT_EQ(reloads, 0);
}

TEST_F(EngineTest, closingTheWindowDuringAScanSavesWhatWasGatheredWithoutReloading) {
    loadClients(kOffice);
    FakeClient lan(network(cfg.PortSender, cfg.PortListen, 2));
    startEngine();  // the full 10 s countdown: the window closes long before it ends

    engine->startNewClientsScan();
    ASSERT_TRUE(waitFor([&] { return countOf(debugLogText(), "LISTEN: ReportMask: 8") == 3; }));
    engine->shutdown();

    EXPECT_EQ(reloads, 0);
    EXPECT_FALSE(engine->scanRunning());
    const std::string file = readFile(dir / "clients.xml");
    EXPECT_EQ(countOf(file, "<key "), 2) << file;
    EXPECT_EQ(ctx.tree.records().size(), 5u) << "the old list stays while the program ends";
}

TEST_F(EngineTest, checkOfWorkingClients_silentCheckedClientEndsNotDelivered) {
    loadClients(kOffice);
    check(2);
    check(3);
    FakeClient a({"127.0.0.2", cfg.PortSender, cfg.PortListen, "PC-A", "PC-A.X", true, true, {}});
    FakeClient b({"127.0.0.3", cfg.PortSender, cfg.PortListen, "PC-B", "PC-B.X", true, false, {}});
    ServerEngine::Timing timing;
    timing.scannerSeconds = 2;
    startEngine(timing);

    engine->startCheck(true);
    EXPECT_EQ(statuses.value(0), QStringLiteral("Check working clients: 2 sec"));
    ASSERT_TRUE(waitUntil([&] { return state(2) == 9; }));
    EXPECT_EQ(state(1), 9) << "the group shows the answer at once";
    ASSERT_TRUE(waitUntil(
        [&] { return statusSeen(QStringLiteral("Check working clients: job finished.")); }));
    EXPECT_EQ(state(2), 9);
    EXPECT_EQ(state(3), 4);
    EXPECT_EQ(state(4), 0) << "unchecked";
    EXPECT_EQ(state(1), 9 | 4);
    EXPECT_EQ(a.received().at(0).systemMessage, 5);
    EXPECT_EQ(b.count(), 1u);
    EXPECT_FALSE(statusSeen(QStringLiteral("Sending... 1/2"))) << "a check shows no progress";
    EXPECT_TRUE(captions.isEmpty());
    EXPECT_EQ(eventLogText(), "") << "a check is not a mailing";
}

TEST_F(EngineTest, scannerRefusesUnusableBroadcastAddressAndEmptyChecks) {
    loadClients(kOffice);
    startEngine();
    const QString badAddress = QStringLiteral("Error: Please setup correct broadcast address.");
    const QString noneChecked = QStringLiteral("Error: No checked clients for testing");

    cfg.Broadcast_IP = QStringLiteral("255.255.255.255");
    settings.replace(cfg);
    engine->startNewClientsScan();  // discovery needs the address in either mode
    EXPECT_EQ(boxes, QStringList{badAddress});
    engine->startCheck(true);  // unicast check: the address does not matter
    EXPECT_EQ(boxes, QStringList{badAddress});
    EXPECT_TRUE(statusSeen(QStringLiteral("Check working clients: 10 sec")));
    boxes.clear();
    engine->shutdown();

    ServerEngine other(ctx, texts);
    QStringList seen;
    QObject::connect(&other, &ServerEngine::messageBox, &other,
                     [&](const QString& t, const QString& s, tw::platform::BoxIcon) {
                         seen << t + QStringLiteral(": ") + s;
                     });
    settings.setBroadcast(1, cfg.Broadcast_IP);
    other.startCheck(true);
    other.startCheck(false);
    settings.setBroadcast(0, cfg.Broadcast_IP);
    other.startCheck(false);
    EXPECT_EQ(seen, (QStringList{badAddress, badAddress, noneChecked}));
}
