// The report listener: reports sent over real sockets to PortListen from distinct loopback
// addresses, matched against a hand-made list.
#include "tests/server_engine/engine_test_support.h"

using namespace tw::server;
using namespace tw::test;

namespace {

ClientRecord clientRec(const char* address, const char* id, const char* guid = "") {
    ClientRecord r;
    r.address = QString::fromLatin1(address);
    r.name = QStringLiteral("c-") + r.address;
    r.parentIndex = 0;
    r.level = 1;
    r.messageId = QString::fromLatin1(id);
    r.messageGuid = QString::fromLatin1(guid);
    return r;
}

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

class ListenerTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        ClientRecord root;
        root.name = QStringLiteral("MSG_Broadcast");
        root.folder = 1;
        setRecords({root, clientRec("127.0.0.2", "R", "G1"),  // 1
                    clientRec("127.0.0.2", "R", "G2"),        // 2: neighbour of 1
                    clientRec("pc-b", "R"),                   // 3: lower case, as typed by hand
                    clientRec("127.0.0.2", "R"),              // 4: after a record that differs
                    clientRec("PC-C.EXAMPLE.TEST", "R"),      // 5
                    clientRec("127.0.0.2", "OLDER", "G2"),    // 6: another mailing
                    clientRec("127.0.0.9", "", "")});         // 7: never sent anything
        startEngine();
    }

    void setBroadcast(bool on) {
        settings.setBroadcast(on ? 1 : 0, cfg.Broadcast_IP);
        engine->broadcastIndicator();  // the window asks after the settings dialog
    }

    // Sends the report and returns once the listener has handled it completely.
    void deliver(const std::string& from, tw::ReportPacket report,
                 tw::Transport transport = tw::Transport::Udp) {
        const std::string marker = report.kind == tw::ReportKind::IAmHere
                                       ? "LISTEN: ReportMask: 8"
                                       : "LISTEN: Look down for success match! ---vvv";
        const int before = countOf(debugLogText(), marker);
        sendReportFrom(from, cfg.PortListen, report, transport);
        ASSERT_TRUE(waitFor([&] { return countOf(debugLogText(), marker) > before; }));
        // The listener writes a report's lines and changes its records under the lock.
        std::lock_guard lock(ctx.clientsLock);
    }

    std::vector<int> states() {
        std::vector<int> out;
        for (int i = 1; i <= 7; ++i) out.push_back(state(i));
        return out;
    }

    static tw::ReportPacket report(const char* rootId, tw::ReportKind mask,
                                   const char* name = "NOBODY",
                                   const char* fqdn = "NOBODY.EXAMPLE.TEST",
                                   const char* guid = "") {
        tw::ReportPacket r;
        r.clientName = tw::utf8ToUtf16(name);
        r.clientFqdn = tw::utf8ToUtf16(fqdn);
        r.msgRootId = tw::utf8ToUtf16(rootId);
        r.msgGuid = tw::utf8ToUtf16(guid);
        r.kind = mask;
        return r;
    }
};

}  // namespace

TEST_F(ListenerTest, broadcastMode_addressMatchesEveryRecordAndMarksNeighbouringDuplicates) {
    setBroadcast(true);
    deliver("127.0.0.2", report("R", tw::ReportKind::Delivered), tw::Transport::Tcp);

    EXPECT_EQ(states(), (std::vector<int>{1, 1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(record(1).reportTime.size(), 8) << "hh:mm:ss";
    EXPECT_EQ(state(0), 1) << "the root shows what its children show";
    EXPECT_NE(
        debugLogText().find("\r\n######################\r\n"
                            "LISTEN: INCOMING PACKET FROM CLIENT: --- REGULAR REPORT ---\r\n"
                            "LISTEN: ClientAddr: 127.0.0.2\r\n"
                            "LISTEN: RecvClientName: NOBODY\r\n"
                            "LISTEN: RecvClientFQDNName: NOBODY.EXAMPLE.TEST\r\n"
                            "LISTEN: SentMsgRootId: R\r\n"
                            "LISTEN: SentMsgGUID: \r\n"
                            "LISTEN: ReportMask: 1\r\n"
                            "LISTEN: Look down for success match! ---vvv\r\n"
                            "LISTEN: CLIENT matching by IP-address [SUCCESS]\r\n"
                            "LISTEN: ==[DUPLICATED]== CLIENT matching by IP-address[SUCCESS]\r\n"
                            "LISTEN: CLIENT matching by IP-address [SUCCESS]\r\n"),
        std::string::npos)
        << debugLogText();
}

TEST_F(ListenerTest, broadcastMode_namesCompareInUpperCase) {
    setBroadcast(true);
    deliver("127.0.0.3", report("R", tw::ReportKind::Confirmed, "PC-B"));
    EXPECT_EQ(states(), (std::vector<int>{0, 0, 2, 0, 0, 0, 0}));
    EXPECT_NE(debugLogText().find("CLIENT matching by NETBIOS name [SUCCESS]"), std::string::npos);

    deliver("127.0.0.4", report("R", tw::ReportKind::Active, "PC-C", "pc-c.example.test"));
    EXPECT_EQ(states(), (std::vector<int>{0, 0, 2, 0, 9, 0, 0}));
    EXPECT_NE(debugLogText().find("LISTEN: INCOMING PACKET FROM CLIENT: #M_REP_ACTIVE"),
              std::string::npos);
    EXPECT_NE(debugLogText().find("CLIENT matching by FQDN [SUCCESS]"), std::string::npos);
}

TEST_F(ListenerTest, unicastMode_onlyTheRecordWithTheReportedGuidChanges) {
    setBroadcast(false);
    // Records 1, 2 and 4 share the address and the message id; 6 has the GUID but an older id.
    deliver("127.0.0.2", report("R", tw::ReportKind::Delivered, "NOBODY", "X", "G2"));
    EXPECT_EQ(states(), (std::vector<int>{0, 1, 0, 0, 0, 0, 0}));
    EXPECT_NE(debugLogText().find("LISTEN: CLIENT matching by RootId+GUID [SUCCESS]"),
              std::string::npos);
    // Each report's kind replaces the state, whatever it was.
    deliver("127.0.0.2", report("R", tw::ReportKind::Confirmed, "NOBODY", "X", "G2"));
    EXPECT_EQ(state(2), 2);
    deliver("127.0.0.2", report("R", tw::ReportKind::Delivered, "NOBODY", "X", "G2"));
    EXPECT_EQ(state(2), 1);
}

TEST_F(ListenerTest, reportsThatBelongToNoRecordChangeNothing) {
    const struct {
        const char* what;
        bool broadcast;
        const char* from;
        tw::ReportPacket report;
    } cases[] = {
        {"presence answer", true, "127.0.0.2", report("R", tw::ReportKind::IAmHere, "PC-B")},
        {"another mailing", true, "127.0.0.2", report("NEWER", tw::ReportKind::Delivered)},
        {"GUID of another client", false, "127.0.0.2",
         report("R", tw::ReportKind::Delivered, "A", "B", "G9")},
        // Records that were never sent anything, and a broadcast mailing's empty GUIDs, must
        // not match a report that carries no ids.
        {"no ids, unicast", false, "127.0.0.9", report("", tw::ReportKind::Delivered)},
        {"no ids, broadcast", true, "127.0.0.9", report("", tw::ReportKind::Delivered)},
        {"empty GUID, unicast", false, "127.0.0.2", report("R", tw::ReportKind::Delivered)},
    };
    for (const auto& c : cases) {
        setBroadcast(c.broadcast);
        deliver(c.from, c.report);
        EXPECT_EQ(states(), (std::vector<int>{0, 0, 0, 0, 0, 0, 0})) << c.what;
    }
    EXPECT_EQ(countOf(debugLogText(), "[SUCCESS]"), 0);
    EXPECT_EQ(itemSignals, 0);
}

TEST_F(ListenerTest, busyPortIsReported) {
    ServerEngine second(ctx, texts);
    EXPECT_FALSE(second.startListener());
}
