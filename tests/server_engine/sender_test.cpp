// Mailings end to end inside one process: the engine sends to fake clients on their own
// loopback addresses, they answer to PortListen, the listener matches the answers.
#include <QRegularExpression>

#include "tests/server_engine/engine_test_support.h"

using namespace tw::server;
using namespace tw::test;

namespace {

int eventCount(const std::string& log) {
    int n = 0;
    for (auto p = log.find("\"id\":101"); p != std::string::npos; p = log.find("\"id\":101", p + 1))
        ++n;
    return n;
}

}  // namespace

TEST_F(EngineTest, unicastMailing_eachClientGetsItsOwnGuidAndOnlyItsReportCounts) {
    loadClients(kOffice);
    check(2);
    check(3);
    cfg.Timer = 1;  // second
    auto silent = clientAt("127.0.0.2", cfg.PortSender, cfg.PortListen);
    silent.answerText = false;
    FakeClient a(silent);
    FakeClient b(clientAt("127.0.0.3", cfg.PortSender, cfg.PortListen));
    startEngine();

    engine->sendRequest(QStringLiteral("Hello\r\nworld"));
    // The pass may already be over; its news arrives through the event loop.
    EXPECT_TRUE(waitUntil(
        [&] { return engine->sending() || statusSeen(QStringLiteral("Sending finished")); }));
    ASSERT_TRUE(waitUntil([&] { return state(3) == 1; }));
    EXPECT_EQ(state(2), 0) << "A's record holds the same RootId but not B's GUID";

    // B's report can come back before A's own thread has taken its datagram.
    ASSERT_TRUE(a.waitForCount(1));
    ASSERT_TRUE(b.waitForCount(1));
    const auto pa = a.received().at(0), pb = b.received().at(0);
    EXPECT_EQ(pa.systemMessage, 1);
    EXPECT_EQ(tw::utf16ToUtf8(pa.msgText), "Hello\nworld");
    EXPECT_EQ(tw::utf16ToUtf8(pa.language), "EN");
    EXPECT_EQ(tw::utf16ToUtf8(pa.serverName), "TESTHOST");
    EXPECT_EQ(pa.msgRootId, pb.msgRootId);
    EXPECT_NE(pa.msgGuid, pb.msgGuid);
    const QRegularExpression guidForm(
        QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"));
    EXPECT_TRUE(guidForm.match(QString::fromStdU16String(pa.msgGuid)).hasMatch());
    EXPECT_EQ(record(2).messageGuid.toStdU16String(), pa.msgGuid);
    EXPECT_EQ(record(2).messageId.toStdU16String(), pa.msgRootId);
    EXPECT_EQ(record(4).messageId, QString()) << "an unchecked client is not sent anything";

    ASSERT_TRUE(waitUntil([&] { return statusSeen(QStringLiteral("Sending finished")); }));
    EXPECT_EQ(statuses.mid(0, 2),
              (QStringList{QStringLiteral("Sending... 1/2"), QStringLiteral("Sending... 2/2")}));
    EXPECT_EQ(captions,
              (QStringList{QStringLiteral("Stop sending"), QStringLiteral("Send message")}));

    b.answer(pb, tw::ReportKind::Confirmed);
    ASSERT_TRUE(waitUntil([&] { return state(3) == 2; }));

    // The waiting time ends: the silent client is not delivered, the summary goes out.
    ASSERT_TRUE(waitUntil([&] { return !engine->mailingWaiting(); }));
    EXPECT_EQ(state(2), 4);
    const std::string events = eventLogText();
    EXPECT_EQ(eventCount(events), 2) << "the pass's own record and the summary";
    const std::string rootId = tw::utf16ToUtf8(pa.msgRootId);
    EXPECT_NE(events.find("\"strings\":[\"" + rootId + "\",\"Hello\\nworld\",\"\"]"),
              std::string::npos)
        << events;
    const std::string summary = "PC-A\\t= Not delivered\\r\\nPC-B\\t= Confirmed in " +
                                record(3).reportTime.toStdString() + "\\r\\n";
    EXPECT_NE(events.find("\"strings\":[\"" + rootId + "\",\"Hello\\nworld\",\"" + summary + "\"]"),
              std::string::npos)
        << events;

    // A report that comes late still replaces "Not delivered".
    a.answer(pa, tw::ReportKind::Delivered);
    ASSERT_TRUE(waitUntil([&] { return state(2) == 1; }));
}

TEST_F(EngineTest, tcpMailing_unreachableClientIsNotDeliveredAtOnceAndThePassGoesOn) {
    loadClients(kOffice);
    check(2);
    check(3);  // nobody listens there: the connection is refused
    check(4);
    cfg.ProtoUseTCP = 1;
    FakeClient a(clientAt("127.0.0.2", cfg.PortSender, cfg.PortListen));
    FakeClient c(clientAt("127.0.0.4", cfg.PortSender, cfg.PortListen));
    startEngine();

    engine->sendRequest(QStringLiteral("x"));
    ASSERT_TRUE(waitUntil([&] { return state(2) == 1 && state(3) == 4 && state(4) == 1; }));
    EXPECT_TRUE(engine->mailingWaiting()) << "the waiting time runs on";
    ASSERT_TRUE(waitUntil([&] { return statusSeen(QStringLiteral("Sending finished")); }));
    EXPECT_EQ(statuses,
              (QStringList{QStringLiteral("Sending... 1/3"), QStringLiteral("Sending... 2/3"),
                           QStringLiteral("Sending... 3/3"), QStringLiteral("Sending finished")}));
    EXPECT_EQ(state(1), 1 | 4) << "the group combines delivered and not delivered";
    const std::string log = debugLogText();
    EXPECT_NE(log.find("SENDER: Current client address: 127.0.0.2\r\n"), std::string::npos);
    EXPECT_NE(log.find("SENDER: CANNOT Open connection to 127.0.0.3\r\n"), std::string::npos);
}

// Refused and silent clients between answering ones: the attempts run side by side, so the
// clients after the silent ones are reached, and report, while the silent ones still wait.
TEST_F(EngineTest, tcpMailing_attemptsRunSideBySideAndEachClientGetsOne) {
    loadClients(
        "<group name=\"Office\">\n"
        "<key name=\"A\">127.0.0.2</key><key name=\"R1\">127.0.0.3</key>"
        "<key name=\"S1\">127.0.0.4</key><key name=\"S2\">127.0.0.5</key>"
        "<key name=\"R2\">127.0.0.6</key><key name=\"S3\">127.0.0.7</key>"
        "<key name=\"B\">127.0.0.8</key>\n</group>");
    for (int i = 2; i <= 8; ++i) check(i);
    cfg.ProtoUseTCP = 1;
    FakeClient a(clientAt("127.0.0.2", cfg.PortSender, cfg.PortListen));
    DeafTcpPort s1("127.0.0.4", cfg.PortSender), s2("127.0.0.5", cfg.PortSender),
        s3("127.0.0.7", cfg.PortSender);
    FakeClient b(clientAt("127.0.0.8", cfg.PortSender, cfg.PortListen));
    ServerEngine::Timing timing;
    timing.connectTimeout = std::chrono::seconds(8);
    startEngine(timing);

    engine->sendRequest(QStringLiteral("x"));
    // B comes after three silent clients in the list; one at a time it would wait for all of
    // their time-outs first.
    ASSERT_TRUE(waitUntil([&] { return state(8) == 1; }));
    EXPECT_EQ(state(2), 1);
    EXPECT_EQ(state(3), 4) << "a refused client is not delivered as soon as it fails";
    EXPECT_EQ(state(6), 4);
    for (int silent : {4, 5, 7}) EXPECT_EQ(state(silent), 0) << silent << " still connecting";
    EXPECT_FALSE(statusSeen(QStringLiteral("Sending finished")));

    ASSERT_TRUE(waitUntil([&] { return statusSeen(QStringLiteral("Sending finished")); },
                          std::chrono::seconds(60)));
    for (int silent : {4, 5, 7}) EXPECT_EQ(state(silent), 4) << silent;
    EXPECT_EQ(a.count(), 1u);
    EXPECT_EQ(b.count(), 1u);
    QStringList progress;
    for (int i = 1; i <= 7; ++i) progress << QStringLiteral("Sending... %1/7").arg(i);
    progress << QStringLiteral("Sending finished");
    EXPECT_EQ(statuses, progress);

    // Every client has its own two lines, written together, and exactly one attempt.
    const std::string log = debugLogText();
    for (int host = 2; host <= 8; ++host) {
        const std::string address = "127.0.0." + std::to_string(host);
        const std::string line = "SENDER: Current client address: " + address + "\r\n";
        const auto at = log.find(line);
        ASSERT_NE(at, std::string::npos) << address;
        EXPECT_EQ(log.find(line, at + 1), std::string::npos) << address << " twice";
        const bool failed = host != 2 && host != 8;
        const std::string cannot = "SENDER: CANNOT Open connection to " + address + "\r\n";
        EXPECT_EQ(log.compare(at + line.size(), cannot.size(), cannot) == 0, failed) << log;
    }
    EXPECT_TRUE(waitUntil([&] { return eventCount(eventLogText()) == 1; }))
        << "event 101 once the last attempt has ended";
}

TEST_F(EngineTest, stopInTheMiddleOfAPass_contactsNoFurtherClientAndKeepsTheSummaryForClose) {
    loadClients(kOffice);
    check(2);
    check(3);
    check(4);
    cfg.ProtoUseTCP = 1;
    FakeClient a(clientAt("127.0.0.2", cfg.PortSender, cfg.PortListen));
    DeafTcpPort deaf("127.0.0.3", cfg.PortSender);
    FakeClient c(clientAt("127.0.0.4", cfg.PortSender, cfg.PortListen));
    ServerEngine::Timing timing;
    timing.connectTimeout = std::chrono::milliseconds(1500);
    timing.tcpInFlight = 1;  // so that the deaf client holds back the third attempt
    startEngine(timing);

    engine->sendRequest(QStringLiteral("x"));
    ASSERT_TRUE(waitUntil([&] { return statusSeen(QStringLiteral("Sending... 2/3")); }));
    ASSERT_TRUE(waitUntil([&] { return state(2) == 1; }));

    // While the pass waits on the deaf client, the scanner must not take the packet over.
    engine->startNewClientsScan();
    engine->startCheck(true);
    EXPECT_TRUE(statusSeen(QStringLiteral("Clients scanner: wait until the sending is finished")));
    EXPECT_TRUE(
        statusSeen(QStringLiteral("Check working clients: wait until the sending is finished")));
    EXPECT_FALSE(engine->scanRunning());

    engine->sendRequest(QStringLiteral("x"));  // the same button: Stop
    EXPECT_FALSE(engine->sending());
    EXPECT_EQ(captions.last(), QStringLiteral("Send message"));
    EXPECT_EQ(statuses.last(), QStringLiteral("Sending interrupted"));
    EXPECT_TRUE(engine->mailingWaiting());

    engine->shutdown();  // the window closes: the attempt under way is abandoned
    EXPECT_EQ(c.count(), 0u) << "no client is contacted after Stop";
    EXPECT_FALSE(statusSeen(QStringLiteral("Sending finished")));
    const std::string events = eventLogText();
    EXPECT_EQ(eventCount(events), 1) << "only the summary written at close";
    EXPECT_NE(events.find("PC-A\\t= Delivered in "), std::string::npos) << events;
    EXPECT_NE(events.find("PC-B\\t= Not delivered\\r\\nPC-C\\t= Not delivered\\r\\n"),
              std::string::npos)
        << events;
}

TEST_F(EngineTest, broadcastMailing_sendsOneDatagramAndGivesEveryClientTheRootId) {
    loadClients(kOffice);
    for (int i = 0; i <= 4; ++i) check(i);
    cfg.Broadcast = 1;
    TestPeer network(cfg.PortSender);  // hears the datagram to 127.255.255.255
    startEngine();
    EXPECT_EQ(engine->broadcastIndicator(), QStringLiteral("BROADCAST"));

    engine->sendRequest(QStringLiteral("to all"));
    ASSERT_TRUE(network.waitForCount(1));
    ASSERT_TRUE(waitUntil([&] { return statusSeen(QStringLiteral("Sending finished")); }));
    EXPECT_EQ(statuses, QStringList{QStringLiteral("Sending finished")}) << "no progress texts";
    const auto packet = tw::MessagePacket::parse(network.received().at(0).data);
    for (int i = 2; i <= 4; ++i) EXPECT_EQ(record(i).messageId.toStdU16String(), packet.msgRootId);
    EXPECT_NE(debugLogText().find("SENDER: === TEXT BROADCAST MESSAGE WAS SENT ====\r\n"),
              std::string::npos);

    // Reports come back by address.
    tw::ReportPacket r;
    r.msgRootId = packet.msgRootId;
    r.kind = tw::ReportKind::Delivered;
    sendReportFrom("127.0.0.3", cfg.PortListen, r);
    ASSERT_TRUE(waitUntil([&] { return state(3) == 1; }));
    EXPECT_EQ(network.count(), 1u);
}

TEST_F(EngineTest, sendRequestWithoutTextOrCheckedClientIsIgnored) {
    loadClients(kOffice);
    startEngine();
    engine->sendRequest(QStringLiteral("nobody checked"));
    check(2);
    engine->sendRequest(QString());
    EXPECT_FALSE(engine->sending());
    EXPECT_FALSE(engine->mailingWaiting());
    EXPECT_TRUE(captions.isEmpty());
    EXPECT_TRUE(statuses.isEmpty());
}

TEST_F(EngineTest, udpWarningIsShownOncePerConfiguration) {
    startEngine();
    EXPECT_TRUE(engine->takeUdpWarning());
    EXPECT_EQ(settings.snapshot().WarningMask & 1, 1);
    EXPECT_FALSE(engine->takeUdpWarning());
    cfg.WarningMask = 0;
    cfg.ProtoUseTCP = 1;
    settings.replace(cfg);
    EXPECT_FALSE(engine->takeUdpWarning());
    EXPECT_EQ(engine->broadcastIndicator(), QStringLiteral("UNICAST"));
}
