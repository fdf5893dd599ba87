// The real tellwick_client as a process, driven over loopback by a test peer that stands in
// for the server.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <span>

#include "common/net.h"
#include "common/text.h"
#include "tests/client/client_harness.h"

using namespace tw;
using namespace tw::test;
using namespace std::chrono_literals;

namespace {

std::map<std::string, std::string> confirmAfter(const char* ms) {
    return {{"TELLWICK_TEST_CONFIRM_AFTER_MS", ms}};
}

std::vector<ReportKind> kinds(const std::vector<GotReport>& rs) {
    std::vector<ReportKind> k;
    for (const auto& r : rs) k.push_back(r.report.kind);
    return k;
}

// Lines of the debug log that contain `part`, in order.
std::vector<std::string> linesWith(const std::vector<std::string>& lines, const std::string& part) {
    std::vector<std::string> out;
    for (const auto& l : lines)
        if (l.find(part) != std::string::npos) out.push_back(l);
    return out;
}

}  // namespace

TEST(ClientProcess, answersProbesToTheSenderPortOverTheProbesTransport) {
    ClientHarness h;
    auto client = h.start();
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();

    struct Probe {
        std::uint8_t flags;
        Transport transport;
        ReportKind answer;
    } probes[] = {
        {3, Transport::Udp, ReportKind::IAmHere},
        {5, Transport::Tcp, ReportKind::Active},
        {7, Transport::Udp, ReportKind::IAmHere},  // both probe bits: discovery only
        {4, Transport::Tcp, ReportKind::Active},   // answered without the reports bit too
    };
    std::size_t n = 0;
    for (const Probe& p : probes) {
        const std::u16string root = u"1000" + utf8ToUtf16(std::to_string(n));
        h.send(makePacket(p.flags, root), p.transport);
        ASSERT_TRUE(h.peer.waitForCount(++n)) << "probe " << int(p.flags);
        const GotReport r = h.reports().back();
        EXPECT_EQ(r.report.kind, p.answer);
        EXPECT_EQ(r.transport, p.transport);
        EXPECT_EQ(r.peer, "127.0.0.1");
        EXPECT_EQ(r.report.msgRootId, root);
        EXPECT_EQ(r.report.msgGuid, u"GUID-" + root);
        EXPECT_TRUE(r.report.clientAddr.empty());
        EXPECT_FALSE(r.report.clientName.empty());
        EXPECT_EQ(r.report.clientName, asciiUpper(r.report.clientName));
    }

    const auto lines = h.debugLines();
    const std::string netbios = linesWith(lines, "NameNETBIOS = ").at(0).substr(14);
    const std::string fqdn = linesWith(lines, "NameFQDN = ").at(0).substr(11);
    EXPECT_EQ(utf8ToUtf16(netbios).substr(0, 15), h.reports()[0].report.clientName);
    EXPECT_EQ(linesWith(lines, "REPORTED: ").at(0),
              "REPORTED: ServerIP = 127.0.0.1, MyNetBIOS = " + netbios + ", MyFQDN$ = " + fqdn +
                  ", Packet = #M_REP_IAMHERE");
    EXPECT_EQ(linesWith(lines, "REPORTED: ").at(1).substr(0, 26), "REPORTED: ServerIP = 127.0");
    EXPECT_TRUE(linesWith(lines, "REPORTED: ").at(1).ends_with(", Packet = #M_REP_ACTIVE"));
    EXPECT_EQ(linesWith(lines, "Conn mode = "),
              (std::vector<std::string>{"Conn mode = 2", "Conn mode = 1", "Conn mode = 2",
                                        "Conn mode = 1"}));
    // Probes are not shown and leave no event-log record.
    EXPECT_EQ(h.eventIds(), std::vector<int>{100});
    client->signal(SIGTERM);
    EXPECT_EQ(client->wait(), 0);
}

TEST(ClientProcess, textMessageIsDeliveredConfirmedAndThenRepeatsAreDuplicates) {
    ClientHarness h;
    auto client = h.start({"--debug"}, confirmAfter("100"));
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();

    h.send(makePacket(1, u"500", u"Lunch & <b>cake</b>\nin room 2"), Transport::Tcp);
    ASSERT_TRUE(h.peer.waitForCount(2));
    auto rs = h.reports();
    EXPECT_EQ(kinds(rs), (std::vector<ReportKind>{ReportKind::Delivered, ReportKind::Confirmed}));
    for (const auto& r : rs) {
        EXPECT_EQ(r.transport, Transport::Tcp);
        EXPECT_EQ(r.report.msgRootId, u"500");
        EXPECT_EQ(r.report.msgGuid, u"GUID-500");
    }
    ASSERT_TRUE(waitFor([&] { return h.eventIds().size() == 3; }));
    const auto ev = h.events();
    for (int i : {1, 2}) {
        EXPECT_EQ(ev[i].id, 100 + i);
        EXPECT_EQ(ev[i].source, "Tellwick Client");
        EXPECT_EQ(ev[i].strings, (std::vector<std::string>{"OPERATOR-PC", "500",
                                                           "Lunch & <b>cake</b>\nin room 2"}));
    }

    // The same message again, over UDP, and a discovery probe with the same id: both are
    // answered as repeats at once and not shown.
    h.send(makePacket(1, u"500", u"Lunch"), Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(3));
    h.send(makePacket(3, u"500"), Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(4));
    rs = h.reports();
    EXPECT_EQ(rs[2].report.kind, ReportKind::Confirmed);
    EXPECT_EQ(rs[2].transport, Transport::Udp);
    EXPECT_EQ(rs[3].report.kind, ReportKind::Confirmed);
    const auto dup =
        linesWith(h.debugLines(), "DUPLICATED MESSAGE. REPORTED: ServerIP = 127.0.0.1, ");
    ASSERT_EQ(dup.size(), 2u);
    EXPECT_TRUE(dup[0].ends_with(", Packet = #M_REP_CONFIRMED"));

    // A command-line message (flags 0) with the same id is shown again and never reported;
    // the check probe after it proves that nothing else was sent in between.
    h.send(makePacket(0, u"500", u"from the console"), Transport::Udp);
    h.send(makePacket(5, u"501"), Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(5));
    EXPECT_EQ(h.reports()[4].report.kind, ReportKind::Active);
    ASSERT_TRUE(waitFor([&] { return h.eventIds().size() == 5; }));
    EXPECT_EQ(h.eventIds(), (std::vector<int>{100, 101, 102, 101, 102}));
    EXPECT_EQ(h.peer.count(), 5u);
}

TEST(ClientProcess, keepsAnsweringWhileAWindowIsOpenAlsoBesideAStalledConnection) {
    ClientHarness h;
    auto client = h.start();  // nobody presses OK
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();

    h.send(makePacket(1, u"700", u"first"), Transport::Tcp);
    ASSERT_TRUE(h.peer.waitForCount(1));  // delivered: the window is up
    // A sender that connects and then stalls halfway through its packet.
    const auto probe = makePacket(5, u"702").serialize();
    auto stalled = net::openConnection("127.0.0.1", h.listenPort, Transport::Tcp);
    ASSERT_NE(stalled, nullptr);
    ASSERT_TRUE(stalled->send(std::span(probe).first(100)));

    // While the window is open and the connection hangs: probes over both transports, a copy
    // of the message on screen and a second text.
    h.send(makePacket(5, u"701"), Transport::Udp);
    h.send(makePacket(3, u"701"), Transport::Tcp);
    h.send(makePacket(1, u"700", u"first"), Transport::Udp);
    h.send(makePacket(1, u"703", u"second"), Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(3));
    // The stalled sender finishes its packet: it was still being read, and is answered too.
    ASSERT_TRUE(stalled->send(std::span(probe).subspan(100)));
    stalled->close();
    ASSERT_TRUE(h.peer.waitForCount(4));

    const auto rs = h.reports();
    const auto answer = [&](ReportKind kind, Transport t, const std::u16string& root) {
        return std::count_if(rs.begin(), rs.end(), [&](const GotReport& r) {
            return r.report.kind == kind && r.transport == t && r.report.msgRootId == root;
        });
    };
    EXPECT_EQ(rs[0].report.kind, ReportKind::Delivered);
    EXPECT_EQ(answer(ReportKind::Active, Transport::Udp, u"701"), 1);
    EXPECT_EQ(answer(ReportKind::IAmHere, Transport::Tcp, u"701"), 1);
    EXPECT_EQ(answer(ReportKind::Active, Transport::Tcp, u"702"), 1);
    // Neither the copy nor the second text has been answered or shown yet.
    h.send(makePacket(5, u"704"), Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(5));
    EXPECT_EQ(h.reports()[4].report.msgRootId, u"704");
    EXPECT_EQ(h.eventIds(), (std::vector<int>{100, 101}));
    // Each answer's debug line follows its send.
    ASSERT_TRUE(waitFor([&] { return linesWith(h.debugLines(), "REPORTED: ").size() == 5; }));
    EXPECT_EQ(linesWith(h.debugLines(), "INCOMING_PACKET FROM SERVER: ").size(), 7u);

    client->signal(SIGTERM);
    EXPECT_EQ(client->wait(), 0);
    EXPECT_EQ(h.eventIds(), (std::vector<int>{100, 101, 103}));
}

TEST(ClientProcess, textsThatCameMeanwhileAreShownInOrderOfArrival) {
    ClientHarness h;
    auto client = h.start({"--debug"}, confirmAfter("300"));
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();

    // Each one is in before the next is sent, so that the order of arrival is known.
    const struct {
        std::uint8_t flags;
        const char16_t* root;
        const char16_t* text;
        Transport transport;
    } texts[] = {{1, u"801", u"one", Transport::Udp},
                 {1, u"802", u"two", Transport::Tcp},
                 {0, u"803", u"three", Transport::Udp},  // from the console: no reports
                 {1, u"804", u"four", Transport::Tcp}};
    std::size_t n = 0;
    for (const auto& t : texts) {
        h.send(makePacket(t.flags, t.root, t.text), t.transport);
        ASSERT_TRUE(waitFor([&] {
            return linesWith(h.debugLines(), "INCOMING_PACKET FROM SERVER: ").size() == n + 1;
        }));
        ++n;
    }
    ASSERT_TRUE(h.peer.waitForCount(6));
    ASSERT_TRUE(waitFor([&] { return h.eventIds().size() == 9; }));

    std::vector<std::pair<ReportKind, std::u16string>> got;
    for (const auto& r : h.reports()) got.emplace_back(r.report.kind, r.report.msgRootId);
    EXPECT_EQ(
        got, (std::vector<std::pair<ReportKind, std::u16string>>{{ReportKind::Delivered, u"801"},
                                                                 {ReportKind::Confirmed, u"801"},
                                                                 {ReportKind::Delivered, u"802"},
                                                                 {ReportKind::Confirmed, u"802"},
                                                                 {ReportKind::Delivered, u"804"},
                                                                 {ReportKind::Confirmed, u"804"}}));
    std::vector<std::string> shown;
    for (const auto& e : h.events())
        shown.push_back(std::to_string(e.id) + (e.strings.size() > 2 ? " " + e.strings[2] : ""));
    EXPECT_EQ(shown, (std::vector<std::string>{"100 ", "101 one", "102 one", "101 two", "102 two",
                                               "101 three", "102 three", "101 four", "102 four"}));
}

TEST(ClientProcess, aFloodOfTextsKeepsFiftyWaitingAndDropsTheRestWithALine) {
    ClientHarness h;
    auto client = h.start();  // nobody presses OK
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();
    // One on screen, fifty waiting, five dropped; the probe behind them is still answered.
    for (int i = 0; i < 56; ++i)
        h.send(makePacket(0, utf8ToUtf16(std::to_string(1000 + i)), u"flood"), Transport::Udp);
    h.send(makePacket(5, u"2000"), Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(1));
    EXPECT_EQ(h.reports()[0].report.msgRootId, u"2000");
    ASSERT_TRUE(waitFor([&] { return linesWith(h.debugLines(), "REPORTED: ").size() == 1; }));
    const auto dropped = linesWith(h.debugLines(), "QUEUE FULL. DROPPED: ");
    ASSERT_EQ(dropped.size(), 5u);
    EXPECT_EQ(dropped[0], "QUEUE FULL. DROPPED: ServerIP = 127.0.0.1, MsgRootId = 1051");
    EXPECT_TRUE(dropped[4].ends_with("MsgRootId = 1055"));
    EXPECT_EQ(h.eventIds(), (std::vector<int>{100, 101}));
    EXPECT_TRUE(client->running());
}

TEST(ClientProcess, shortPacketIsReadAsZeroPaddedAndEmptyConnectionsAreIgnored) {
    ClientHarness h;
    auto client = h.start({"--debug"}, confirmAfter("0"));
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();

    // Only the fields up to the text: the text is empty and the flags (1 wanted) are lost.
    const auto full = makePacket(1, u"77", u"lost text").serialize();
    h.sendBytes(std::vector<std::uint8_t>(full.begin(), full.begin() + kOffMsgText),
                Transport::Tcp);
    // A connection that closes without a byte is no packet at all.
    ASSERT_NE(net::openConnection("127.0.0.1", h.listenPort, Transport::Tcp), nullptr);
    h.send(makePacket(5, u"78"), Transport::Tcp);
    ASSERT_TRUE(h.peer.waitForCount(1));
    EXPECT_EQ(h.reports()[0].report.kind, ReportKind::Active);
    // The probe is answered while the window of the short packet may still be up.
    ASSERT_TRUE(waitFor([&] { return h.eventIds().size() == 3; }));
    const auto ev = h.events();
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[1].strings, (std::vector<std::string>{"OPERATOR-PC", "77", ""}));
    EXPECT_EQ(linesWith(h.debugLines(), "SystemMessage = "),
              (std::vector<std::string>{"SystemMessage = 0", "SystemMessage = 5"}));
    EXPECT_EQ(h.peer.count(), 1u);
}

TEST(ClientProcess, startUpWritesItsDebugLinesInOrder) {
    ClientHarness h;
    auto client = h.start({"--debug", "ignored"});
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();
    const auto lines = h.debugLines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
              (std::vector<std::string>{"Config reading...", "Network connections initializing...",
                                        "Creating udp-listener...", "Creating tcp-listener..."}));
    EXPECT_TRUE(lines[4].starts_with("NameNETBIOS = "));
    EXPECT_TRUE(lines[5].starts_with("NameFQDN = "));
    EXPECT_EQ(h.events().at(0).strings, (std::vector<std::string>{"", "", ""}));
    client->signal(SIGTERM);
    EXPECT_EQ(client->wait(), 0);
}

TEST(ClientProcess, startUpFailuresShowTheirBoxAndEndWithZero) {
    struct Case {
        const char* name;
        std::function<void(ClientHarness&)> setUp;
        std::function<std::string(const ClientHarness&)> box;
        std::function<std::string(const ClientHarness&)> debugLine;  // empty: none
    };
    net::UdpListener busyUdp;
    net::TcpListener busyTcp;
    const Case cases[] = {
        {"busy udp port", [&](ClientHarness& h) { ASSERT_TRUE(busyUdp.open(h.listenPort)); },
         [](const ClientHarness& h) {
             return "Error!: Can't open udp-port " + std::to_string(h.listenPort) +
                    ". Already busy?\n";
         },
         [](const ClientHarness& h) {
             return "ERROR: Can't open udp-port " + std::to_string(h.listenPort) +
                    ". Already busy?";
         }},
        {"busy tcp port", [&](ClientHarness& h) { ASSERT_TRUE(busyTcp.open(h.listenPort)); },
         [](const ClientHarness& h) {
             return "Error!: Can't open tcp-port " + std::to_string(h.listenPort) +
                    ". Already busy?\n";
         },
         [](const ClientHarness& h) {
             return "ERROR: Can't open tcp-port " + std::to_string(h.listenPort) +
                    ". Already busy?";
         }},
        {"port above 65535",
         [](ClientHarness& h) { h.writeConfig("[Network]\nNet.PortListen = 70000\n"); },
         [](const ClientHarness&) {
             return std::string("Error!: Can't open udp-port 70000. Already busy?\n");
         },
         [](const ClientHarness&) {
             return std::string("ERROR: Can't open udp-port 70000. Already busy?");
         }},
        {"registry not writable",
         [](ClientHarness& h) {
             // A file where the registry's folders should go: no one can create keys there.
             writeFile(h.registry, "not a folder");
         },
         [](const ClientHarness&) {
             return std::string(
                 "Error!: Can't create registry key.\rThe program is interrupted.\n");
         },
         [](const ClientHarness&) { return std::string(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientHarness h;
        c.setUp(h);
        const RunResult r = run(binPath("tellwick_client"), h.options());
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.err.find(c.box(h)) == std::string::npos, false) << r.err;
        const auto lines = h.debugLines();
        if (!c.debugLine(h).empty()) {
            EXPECT_EQ(lines.back(), c.debugLine(h));
        } else {
            EXPECT_EQ(linesWith(lines, "ERROR").size(), 0u);
        }
        EXPECT_EQ(h.eventIds(), std::vector<int>{});
        busyUdp.close();
        busyTcp.close();
    }
}

TEST(ClientProcess, secondInstanceStopsAndTheFirstKeepsRunning) {
    ClientHarness h;
    auto first = h.start();
    ASSERT_TRUE(h.waitStarted(*first)) << first->err();
    const RunResult second = run(binPath("tellwick_client"), h.options({}));
    EXPECT_EQ(second.code, 0);
    EXPECT_NE(second.err.find("Stop: The client is already running. Terminating...\n"),
              std::string::npos)
        << second.err;
    EXPECT_TRUE(first->running());
    h.send(makePacket(5, u"9"), Transport::Udp);
    EXPECT_TRUE(h.peer.waitForCount(1));
    EXPECT_EQ(h.eventIds(), std::vector<int>{100});
}

TEST(ClientProcess, eventLogSwitchControlsRegistrationAndRecords) {
    const auto registered = [](const ClientHarness& h) {
        return std::filesystem::exists(
            h.registry /
            "SYSTEM/CurrentControlSet/services/eventlog/Application/Tellwick Client/"
            "EventMessageFile");
    };
    struct Row {
        int logger;
        bool registers, writes;
    } rows[] = {{0, false, false}, {1, true, true}, {2, false, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.logger);
        ClientHarness h(row.logger);
        auto client = h.start({"--debug"}, confirmAfter("0"));
        ASSERT_TRUE(h.waitStarted(*client)) << client->err();
        h.send(makePacket(1, u"5"), Transport::Udp);
        ASSERT_TRUE(h.peer.waitForCount(2));
        EXPECT_EQ(registered(h), row.registers);
        EXPECT_EQ(std::filesystem::exists(h.registry), row.registers);
        EXPECT_EQ(h.eventIds(),
                  (row.writes ? std::vector<int>{100, 101, 102} : std::vector<int>{}));
    }
}

TEST(ClientProcess, endOfSessionEndsWithZeroAlsoWithAWindowOpen) {
    struct Row {
        int sig;
        bool windowOpen;
    } rows[] = {{SIGTERM, false}, {SIGINT, false}, {SIGHUP, true}, {SIGTERM, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.sig << (row.windowOpen ? " window" : " idle"));
        ClientHarness h;
        auto client = h.start();
        ASSERT_TRUE(h.waitStarted(*client)) << client->err();
        if (row.windowOpen) {
            h.send(makePacket(1, u"900", u"never confirmed"), Transport::Udp);
            ASSERT_TRUE(h.peer.waitForCount(1));
        }
        client->signal(row.sig);
        EXPECT_EQ(client->wait(), 0);
        const auto ev = h.events();
        ASSERT_FALSE(ev.empty());
        EXPECT_EQ(ev.back().id, 103);
        EXPECT_EQ(ev.back().strings, (std::vector<std::string>{"", "", ""}));
        EXPECT_EQ(h.eventIds().size(), row.windowOpen ? 3u : 2u);  // no 102
        EXPECT_EQ(h.peer.count(), row.windowOpen ? 1u : 0u);       // no confirmation
    }
}
