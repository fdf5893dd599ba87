// The whole road of a message with the real programs: the operator works the server's window,
// the packets cross a bridge into three namespaces, the clients show the message and report,
// the reports come back to the server's tree and the mailing's summary reaches the event log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <regex>
#include <set>
#include <thread>

#include "tests/e2e/e2e_harness.h"

using namespace tw::test;
using namespace tw::test::e2e;
using namespace std::chrono_literals;

namespace {

const std::vector<std::string> kNames = {"Alpha", "Bravo", "Charlie"};
const std::vector<std::string> kHostNames = {"alpha-pc", "bravo-pc", "charlie-pc"};

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

// This computer's name as the server puts it into every packet.
std::string serverHostName() {
    char buf[256] = {};
    ::gethostname(buf, sizeof buf - 1);
    std::string name = buf;
    return upper(name.substr(0, name.find('.')));
}

// Positions of the lines in the log, each searched after the previous one; -1 where missing.
std::vector<long> findInOrder(const std::vector<std::string>& lines,
                              const std::vector<std::string>& wanted) {
    std::vector<long> at;
    auto from = lines.begin();
    for (const auto& w : wanted) {
        const auto it = std::find(from, lines.end(), w);
        if (it == lines.end()) {
            at.push_back(-1);
            continue;
        }
        at.push_back(it - lines.begin());
        from = it + 1;
    }
    return at;
}

std::vector<LoggedEvent> eventsWithId(const std::vector<LoggedEvent>& all, int id) {
    std::vector<LoggedEvent> out;
    std::copy_if(all.begin(), all.end(), std::back_inserter(out),
                 [id](const LoggedEvent& e) { return e.id == id; });
    return out;
}

// The summary lines of one mailing: "<name>\t= <state>\r\n" per checked client.
std::string summaryPattern(const std::vector<std::pair<std::string, std::string>>& lines) {
    std::string p;
    for (const auto& [name, state] : lines) p += name + "\t= " + state + "\r\n";
    return p;
}
const std::string kConfirmedAt = "Confirmed in [0-2][0-9]:[0-5][0-9]:[0-5][0-9]";
const std::string kDeliveredAt = "Delivered in [0-2][0-9]:[0-5][0-9]:[0-5][0-9]";

class MessageRoad : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = missingPrerequisite(); !why.empty()) GTEST_SKIP() << why;
        net_ = std::make_unique<TestNetwork>(namespaces_);
        ASSERT_TRUE(net_->ok()) << net_->error();
        display_ = std::make_unique<Display>();
        ASSERT_FALSE(display_->name().empty()) << "Xvfb did not start";
        serverPort_ = freePort();
        do clientPort_ = freePort();
        while (clientPort_ == serverPort_);
    }

    void TearDown() override {
        // TELLWICK_E2E_KEEP=1 keeps them after a passing run too.
        const char* keep = std::getenv("TELLWICK_E2E_KEEP");
        if ((HasFailure() || (keep && *keep == '1')) && display_) {
            std::vector<std::filesystem::path> folders;
            if (server_) folders.push_back(server_->folder());
            for (const auto& c : clients_) folders.push_back(c->folder());
            const auto kept =
                keepEvidence(::testing::UnitTest::GetInstance()->current_test_info()->name(),
                             display_.get(), folders);
            std::cout << "logs, configuration and a screenshot kept in " << kept << "\n";
        }
        server_.reset();
        clients_.clear();
        display_.reset();
        net_.reset();
    }

    // confirmAfterMs[i] > 0: client i's own test hook presses OK; 0: a person must.
    void startClients(const std::vector<int>& confirmAfterMs, const std::string& moreConfig = {}) {
        for (std::size_t i = 0; i < confirmAfterMs.size(); ++i)
            clients_.push_back(std::make_unique<ClientHost>(
                *net_, static_cast<int>(i), kHostNames[i], clientPort_, serverPort_, *display_,
                confirmAfterMs[i], moreConfig));
        for (auto& c : clients_) ASSERT_TRUE(c->waitStarted()) << c->hostName() << " did not start";
    }

    ServerSettings settings() const {
        ServerSettings s;
        s.broadcastIp = net_->broadcastAddress();
        s.listenPort = serverPort_;
        s.senderPort = clientPort_;
        return s;
    }

    void startServer(const ServerSettings& s, const std::string& xml) {
        server_ = std::make_unique<ServerHost>(s, xml, *display_);
        ASSERT_TRUE(server_->waitStarted()) << "no server window\n" << server_->err();
    }

    std::string officeDatabase() const {
        return clientsXml("Office", {{kNames[0], net_->clientAddress(0)},
                                     {kNames[1], net_->clientAddress(1)},
                                     {kNames[2], net_->clientAddress(2)}});
    }

    // Client i's message window is answered as a person would: found by its title among the
    // windows of that process, read for a moment, then OK with the keyboard.
    void pressOkAt(int i) {
        std::string wid;
        ASSERT_TRUE(waitFor(
            [&] { return !(wid = display_->findWindow("^Message$", clients_[i]->pid())).empty(); },
            30s))
            << "no message window at " << kHostNames[i];
        // Reading the message: Return counts after a quiet second with no key pressed in the
        // window, so a missed key is tried again only after another.
        ASSERT_TRUE(waitFor(
            [&] {
                std::this_thread::sleep_for(1200ms);
                display_->xdotool({"windowfocus", "--sync", wid, "key", "Return"});
                return waitFor([&] { return clients_[i]->countEvents(102) == 1; }, 2s);
            },
            30s))
            << "OK was not taken at " << kHostNames[i];
        EXPECT_TRUE(
            waitFor([&] { return display_->findWindow("^Message$", clients_[i]->pid()).empty(); }));
    }

    // The mailing's summary record (event 101 with a summary), once the waiting time is over.
    LoggedEvent waitForSummary() {
        LoggedEvent found;
        waitFor(
            [&] {
                for (const auto& e : eventsWithId(server_->events(), 101))
                    if (e.strings.size() == 3 && !e.strings[2].empty()) {
                        found = e;
                        return true;
                    }
                return false;
            },
            40s);
        return found;
    }

    // The state images of the three client rows, the last three image rows of the tree.
    std::vector<int> clientBands() const {
        std::vector<int> b = server_->treeStateBands();
        if (b.size() > 3) b.erase(b.begin(), b.end() - 3);
        return b;
    }

    std::unique_ptr<TestNetwork> net_;
    std::unique_ptr<Display> display_;
    std::vector<std::unique_ptr<ClientHost>> clients_;
    std::unique_ptr<ServerHost> server_;
    int serverPort_ = 0, clientPort_ = 0;
    int namespaces_ = 3;
};

// The same office with one more device on the bridge: the last namespace, holding no client.
class TrustedRoad : public MessageRoad {
protected:
    TrustedRoad() { namespaces_ = 4; }
    static constexpr int kIntruder = 3;
};

// Colours of the state images in the tree (see ServerHost::treeStateBands).
constexpr int kDeliveredImage = 1, kConfirmedImage = 2, kNotDeliveredImage = 4, kActiveImage = 8,
              kNoNewsImage = 16;

}  // namespace

// A TCP mailing to three clients, the second of which drops every connection attempt: the
// pass goes on after its time-out, the other two show the message and report, and the end of
// the waiting time writes the summary.
TEST_F(MessageRoad, tcpMailingWithOneClientSwitchedOff) {
    // The second workstation is "switched off": its connections time out.
    const RunResult drop = net_->exec(1, {"iptables", "-A", "INPUT", "-p", "tcp", "--dport",
                                          std::to_string(clientPort_), "-j", "DROP"});
    if (drop.code != 0) GTEST_SKIP() << "iptables in a namespace: " << drop.err;
    ASSERT_NO_FATAL_FAILURE(startClients({0, 0, 1500}));
    ServerSettings s = settings();
    s.protoUseTcp = 1;
    s.timerSeconds = 14;
    ASSERT_NO_FATAL_FAILURE(startServer(s, officeDatabase()));

    const std::string text = "Fire drill at 11:00\nPlease use the stairs";
    ASSERT_TRUE(server_->checkAllClients());
    ASSERT_TRUE(server_->sendMessage(text));

    // Alpha's user reads the message and presses OK; Charlie's presses it by the test hook.
    ASSERT_NO_FATAL_FAILURE(pressOkAt(0));
    ASSERT_TRUE(waitFor([&] { return clients_[2]->countEvents(102) == 1; }, 30s));
    const LoggedEvent summary = waitForSummary();
    ASSERT_EQ(summary.strings.size(), 3u) << "no summary in the server's event log";

    // One attempt per client, side by side: Alpha's and Charlie's end before Bravo's
    // time-out, and each client's lines stand together; only Bravo's attempt fails.
    const auto lines = server_->debugLines();
    for (int i : {0, 1, 2})
        EXPECT_EQ(countLines(lines, "SENDER: Current client address: " + net_->clientAddress(i)),
                  1u)
            << i;
    const auto at =
        findInOrder(lines, {"SENDER: Current client address: " + net_->clientAddress(2),
                            "SENDER: Current client address: " + net_->clientAddress(1),
                            "SENDER: CANNOT Open connection to " + net_->clientAddress(1)});
    EXPECT_EQ(std::count(at.begin(), at.end(), -1), 0) << "sender lines missing or out of order";
    EXPECT_EQ(at[2], at[1] + 1) << "Bravo's two lines stand together";
    EXPECT_EQ(countLines(lines, "SENDER: CANNOT Open connection to " + net_->clientAddress(0)) +
                  countLines(lines, "SENDER: CANNOT Open connection to " + net_->clientAddress(2)),
              0u);
    // Delivered and confirmed from each of the two, each matched by its own GUID.
    EXPECT_EQ(countLines(lines, "LISTEN: CLIENT matching by RootId+GUID [SUCCESS]"), 4u);

    // What the two users saw is the operator's text, line break included.
    const std::string rootId = summary.strings[0];
    for (int i : {0, 2}) {
        const auto shown = eventsWithId(clients_[i]->events(), 101);
        ASSERT_EQ(shown.size(), 1u) << kHostNames[i];
        EXPECT_EQ(shown[0].strings, (std::vector<std::string>{serverHostName(), rootId, text}));
        EXPECT_EQ(clients_[i]->countEvents(102), 1) << kHostNames[i];
    }
    EXPECT_EQ(clients_[1]->countEvents(101), 0);

    // The end of the pass and the end of the waiting time each write event 101; the latter
    // with a line per checked client.
    const auto records = eventsWithId(server_->events(), 101);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].strings, (std::vector<std::string>{rootId, text, ""}));
    EXPECT_EQ(summary.strings[1], text);
    EXPECT_TRUE(std::regex_match(
        summary.strings[2],
        std::regex(summaryPattern(
            {{kNames[0], kConfirmedAt}, {kNames[1], "Not delivered"}, {kNames[2], kConfirmedAt}}))))
        << summary.strings[2];

    // The tree shows the same.
    EXPECT_EQ(clientBands(),
              (std::vector<int>{kConfirmedImage, kNotDeliveredImage, kConfirmedImage}));

    // Closing the window now writes no second summary.
    EXPECT_TRUE(server_->stop());
    EXPECT_EQ(eventsWithId(server_->events(), 101).size(), 2u);
}

// Broadcast mode with the root ticked: one UDP datagram to the subnet's broadcast address
// reaches all three; the reports are matched by what the database calls each client (an
// address, or a computer name written in lower case).
TEST_F(MessageRoad, broadcastMailingReachesEveryClient) {
    ASSERT_NO_FATAL_FAILURE(startClients({1200, 1200, 1200}));
    ServerSettings s = settings();
    s.broadcast = 1;
    s.timerSeconds = 8;
    ASSERT_NO_FATAL_FAILURE(
        startServer(s, clientsXml("Office", {{kNames[0], net_->clientAddress(0)},
                                             {kNames[1], kHostNames[1]},
                                             {kNames[2], net_->clientAddress(2)}})));

    const std::string text = "Lunch is served";
    ASSERT_TRUE(server_->checkAllClients());
    ASSERT_TRUE(server_->sendMessage(text));
    for (auto& c : clients_)
        ASSERT_TRUE(waitFor([&] { return c->countEvents(102) == 1; }, 30s)) << c->hostName();
    const LoggedEvent summary = waitForSummary();
    ASSERT_EQ(summary.strings.size(), 3u) << "no summary in the server's event log";

    const auto lines = server_->debugLines();
    EXPECT_EQ(countLines(lines, "SENDER: === TEXT BROADCAST MESSAGE WAS SENT ===="), 1u);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.rfind("SENDER: Current client address:", 0) == 0;
                            }),
              0);
    EXPECT_EQ(countLines(lines, "LISTEN: CLIENT matching by IP-address [SUCCESS]"), 4u);
    EXPECT_EQ(countLines(lines, "LISTEN: CLIENT matching by NETBIOS name [SUCCESS]"), 2u);

    for (auto& c : clients_) {
        const auto shown = eventsWithId(c->events(), 101);
        ASSERT_EQ(shown.size(), 1u) << c->hostName();
        EXPECT_EQ(shown[0].strings,
                  (std::vector<std::string>{serverHostName(), summary.strings[0], text}));
    }
    // The broadcast pass writes no record of its own: only the summary.
    EXPECT_EQ(eventsWithId(server_->events(), 101).size(), 1u);
    EXPECT_TRUE(std::regex_match(
        summary.strings[2],
        std::regex(summaryPattern(
            {{kNames[0], kConfirmedAt}, {kNames[1], kConfirmedAt}, {kNames[2], kConfirmedAt}}))))
        << summary.strings[2];
    EXPECT_EQ(clientBands(), (std::vector<int>{kConfirmedImage, kConfirmedImage, kConfirmedImage}));
    EXPECT_TRUE(server_->stop());
}

// "New clients scanning" from the tree's menu: the discovery probe goes out as one broadcast,
// the three answers become a new database (name = computer name, address = IP address), and
// the reloaded tree is the one the next mailing goes to.
TEST_F(MessageRoad, newClientsScanWritesTheDatabaseAndReloadsTheTree) {
    ASSERT_NO_FATAL_FAILURE(startClients({300, 300, 300}));
    ServerSettings s = settings();
    s.saveFormatName = 1;
    s.saveFormatValue = 0;
    s.timerSeconds = 6;
    ASSERT_NO_FATAL_FAILURE(
        startServer(s, clientsXml("Old office", {{"Gone", net_->clientAddress(87)}})));

    ASSERT_TRUE(server_->scannerMenu(1));
    std::string written;
    ASSERT_TRUE(waitFor(
        [&] {
            written = readFile(server_->clientsFile());
            return written.find("Clients scanner") != std::string::npos;
        },
        30s))
        << "clients.xml was not replaced";

    // One group with the three answers, in whatever order they came.
    const auto lines = [&] {
        std::vector<std::string> out;
        std::istringstream in(written);
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    }();
    ASSERT_EQ(lines.size(), 8u) << written;
    EXPECT_EQ(lines[0], "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    EXPECT_EQ(lines[1], "<root config=\"3.1\">");
    EXPECT_EQ(lines[2], "    <group name=\"Clients scanner\">");
    std::set<std::string> keys(lines.begin() + 3, lines.begin() + 6), expected;
    for (int i = 0; i < 3; ++i)
        expected.insert("        <key name=\"" + upper(kHostNames[i]) + "\">" +
                        net_->clientAddress(i) + "</key>");
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(lines[6], "    </group>");
    EXPECT_EQ(lines[7], "</root>");

    const auto log = server_->debugLines();
    EXPECT_EQ(countLines(log, "SENDER: === #M_SYS_CLIENT_DISCOVER BROADCAST PROBE LAUNCHED ===="),
              1u);
    EXPECT_EQ(countLines(log, "LISTEN: INCOMING PACKET FROM CLIENT: #M_REP_IAMHERE"), 3u);
    for (auto& c : clients_) EXPECT_EQ(c->countEvents(101), 0) << c->hostName();

    // The tree is rebuilt from the new file and opened down to the new clients (all five
    // rows show "no news") ...
    EXPECT_TRUE(waitFor(
        [&] { return server_->treeStateBands() == std::vector<int>(5, kNoNewsImage); }, 60s))
        << "the tree was not reloaded and opened";
    // ... and a mailing to all of it reaches them under their new names. (The file is written
    // once the countdown is over, so the scanner no longer holds mailings back.)
    ASSERT_TRUE(server_->checkAllClients());
    ASSERT_TRUE(server_->sendMessage("Welcome to the new tree"));
    for (auto& c : clients_)
        ASSERT_TRUE(waitFor([&] { return c->countEvents(102) == 1; }, 30s)) << c->hostName();
    const LoggedEvent summary = waitForSummary();
    ASSERT_EQ(summary.strings.size(), 3u);
    // In the order of the new database, which is the order of the answers.
    std::vector<std::pair<std::string, std::string>> inTreeOrder;
    for (int i = 3; i < 6; ++i) {
        std::smatch m;
        if (std::regex_search(lines[i], m, std::regex("name=\"([^\"]+)\"")))
            inTreeOrder.push_back({m[1].str(), kConfirmedAt});
    }
    EXPECT_TRUE(std::regex_match(summary.strings[2], std::regex(summaryPattern(inTreeOrder))))
        << summary.strings[2];
    EXPECT_TRUE(server_->stop());
}

// "Check working clients" with the third workstation down (over UDP, so the sender cannot
// tell): the two live ones answer and show as active at once, the silent one turns "Not
// delivered" when the countdown ends. A check writes no event-log record.
TEST_F(MessageRoad, checkWithOneClientDown) {
    ASSERT_NO_FATAL_FAILURE(startClients({0, 0, 0}));
    clients_[2]->stop();
    ASSERT_EQ(clients_[2]->countEvents(103), 1);
    ServerSettings s = settings();
    s.protoUseTcp = 0;
    ASSERT_NO_FATAL_FAILURE(startServer(s, officeDatabase()));

    ASSERT_TRUE(server_->checkAllClients());
    ASSERT_TRUE(server_->scannerMenu(2));

    // First the answers, while the countdown runs ...
    bool sawAnswersOnly = false, sawEnd = false;
    waitFor(
        [&] {
            const auto b = clientBands();
            if (b == std::vector<int>{kActiveImage, kActiveImage, kNoNewsImage})
                sawAnswersOnly = true;
            sawEnd = b == std::vector<int>{kActiveImage, kActiveImage, kNotDeliveredImage};
            return sawEnd;
        },
        60s);
    EXPECT_TRUE(sawAnswersOnly) << "the two answers were not shown before the countdown ended";
    // ... then the end of the countdown marks the silent one.
    EXPECT_TRUE(sawEnd) << "states 9, 9, 4 not shown";

    const auto lines = server_->debugLines();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(countLines(lines, "SENDER: Current client address: " + net_->clientAddress(i)),
                  1u);
    EXPECT_EQ(countLines(lines, "LISTEN: INCOMING PACKET FROM CLIENT: #M_REP_ACTIVE"), 2u);
    EXPECT_EQ(countLines(lines, "LISTEN: CLIENT matching by RootId+GUID [SUCCESS]"), 2u);
    for (auto& c : clients_) EXPECT_EQ(c->countEvents(101), 0) << c->hostName();

    EXPECT_TRUE(server_->stop());
    EXPECT_TRUE(eventsWithId(server_->events(), 101).empty());
}

// A keyed office — the server signs with the operator key and checks reports under the office
// key, the workstations hold operator.pub and office.key — and one more device on the bridge
// that has neither. Its popups, bare or signed with a key of its own, put up no window; its
// confirmation for the workstation whose user has not pressed OK, forged with the root id and
// GUID that workstation's real delivery report carried over the wire, changes neither the tree
// nor the summary. The operator's own mailing arrives, and the real confirmations count.
TEST_F(TrustedRoad, intruderCanNeitherPopAWindowNorForgeAConfirmation) {
    TempDir keys, intruderKeys;
    for (const TempDir* d : {&keys, &intruderKeys}) {
        const RunResult made =
            run(binPath("tellwick_cli"), withArgs({"--generate-keys=" + d->path().string()}));
        ASSERT_EQ(made.code, 0) << made.out << made.err;
    }
    const std::string pub = (keys / "operator.pub").string(),
                      office = (keys / "office.key").string();
    ASSERT_NO_FATAL_FAILURE(startClients(
        {1500, 1500, 0},
        "\n[Security]\nSec.OperatorKey = " + pub + "\nSec.OfficeKey = " + office + "\n"));
    ServerSettings s = settings();
    s.protoUseTcp = 0;
    s.timerSeconds = 25;  // room for the forgery within the waiting time, even under load
    s.signingKey = (keys / "operator.key").string();
    s.officeKey = office;
    ASSERT_NO_FATAL_FAILURE(startServer(s, officeDatabase()));

    // The intruder's popups, over both transports, to every workstation.
    const std::string everyone =
        net_->clientAddress(0) + "," + net_->clientAddress(1) + "," + net_->clientAddress(2);
    const std::string port = std::to_string(clientPort_);
    const std::vector<std::vector<std::string>> popups = {
        {binPath("tellwick_cli").string(), "-a", everyone, "-t", "Click here", "-p", port, "-m",
         "udp"},
        {binPath("tellwick_cli").string(), "-a", everyone, "-t", "Click here", "-p", port, "-m",
         "tcp", "-k", (intruderKeys / "operator.key").string()}};
    for (const auto& popup : popups) {
        const RunResult sent = net_->exec(kIntruder, popup);
        ASSERT_EQ(sent.code, 0) << sent.out << sent.err;
    }
    const std::string intruder = net_->clientAddress(kIntruder);
    const std::vector<std::string> rejected = {
        "REJECTED: ServerIP = " + intruder + ", Reason = no signature",
        "REJECTED: ServerIP = " + intruder + ", Reason = bad signature"};
    for (int i : {0, 1, 2}) {
        ASSERT_TRUE(waitFor(
            [&] {
                const auto lines = clients_[i]->debugLines();
                return countLines(lines, rejected[0]) == 1 && countLines(lines, rejected[1]) == 1;
            },
            20s))
            << kHostNames[i] << " did not reject both popups";
        EXPECT_EQ(clients_[i]->countEvents(101), 0) << kHostNames[i];
        EXPECT_TRUE(display_->findWindow("^Message$", clients_[i]->pid()).empty()) << kHostNames[i];
    }

    // The operator's mailing: Alpha and Bravo confirm by their hooks, Charlie's user is away.
    const std::string text = "Signed notice";
    ASSERT_TRUE(server_->checkAllClients());
    ASSERT_TRUE(server_->sendMessage(text));
    for (int i : {0, 1})
        ASSERT_TRUE(waitFor([&] { return clients_[i]->countEvents(102) == 1; }, 30s))
            << kHostNames[i];
    ASSERT_TRUE(waitFor([&] { return clients_[2]->countEvents(101) == 1; }, 30s));

    // What the intruder saw of Charlie's delivery report: its root id and GUID.
    std::string rootId, guid;
    ASSERT_TRUE(waitFor(
        [&] {
            const auto lines = server_->debugLines();
            const auto at = std::find(lines.begin(), lines.end(),
                                      "LISTEN: ClientAddr: " + net_->clientAddress(2));
            if (at == lines.end() || lines.end() - at < 5) return false;
            const std::string rootLine = "LISTEN: SentMsgRootId: ",
                              guidLine = "LISTEN: SentMsgGUID: ";
            if (at[3].rfind(rootLine, 0) != 0 || at[4].rfind(guidLine, 0) != 0) return false;
            rootId = at[3].substr(rootLine.size());
            guid = at[4].substr(guidLine.size());
            return true;
        },
        20s))
        << "Charlie's delivery report did not reach the server";
    ASSERT_FALSE(guid.empty());
    const struct {
        const char* transport;
        std::string key;
        const char* reason;
    } forged[] = {{"udp", "", "no signature"},
                  {"tcp", (intruderKeys / "office.key").string(), "bad signature"}};
    for (const auto& f : forged) {
        std::vector<std::string> args = {binPath("e2e_intruder").string(),
                                         net_->serverAddress(),
                                         std::to_string(serverPort_),
                                         f.transport,
                                         net_->clientAddress(2),
                                         upper(kHostNames[2]),
                                         rootId,
                                         guid};
        if (!f.key.empty()) args.push_back(f.key);
        const RunResult sent = net_->exec(kIntruder, args);
        ASSERT_EQ(sent.code, 0) << sent.err;
        const std::string line = "LISTEN: REJECTED: " + intruder + ": " + f.reason;
        EXPECT_TRUE(waitFor([&] { return countLines(server_->debugLines(), line) == 1; }, 20s))
            << line;
    }

    // The summary: Charlie delivered, not confirmed; the tree shows the same.
    const LoggedEvent summary = waitForSummary();
    ASSERT_EQ(summary.strings.size(), 3u) << "no summary in the server's event log";
    EXPECT_EQ(summary.strings[1], text);
    EXPECT_TRUE(std::regex_match(
        summary.strings[2],
        std::regex(summaryPattern(
            {{kNames[0], kConfirmedAt}, {kNames[1], kConfirmedAt}, {kNames[2], kDeliveredAt}}))))
        << summary.strings[2];
    EXPECT_EQ(clientBands(), (std::vector<int>{kConfirmedImage, kConfirmedImage, kDeliveredImage}));
    EXPECT_EQ(countLines(server_->debugLines(), "LISTEN: CLIENT matching by RootId+GUID [SUCCESS]"),
              5u)
        << "two reports each from Alpha and Bravo, one from Charlie";
    for (int i : {0, 1, 2}) EXPECT_EQ(clients_[i]->countEvents(101), 1) << kHostNames[i];
    EXPECT_TRUE(server_->stop());
}
