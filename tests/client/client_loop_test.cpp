// The client's packet handling on the window's thread, fed directly: the order of windows,
// the waiting queue, the minute count and the reports (sent to a test peer on loopback).
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "client/client_app.h"
#include "client/message_window.h"
#include "client/report_sender.h"
#include "common/platform/diagnostics.h"
#include "tests/support/support.h"

using namespace tw;
using namespace tw::client;
using namespace std::chrono_literals;

namespace {

net::Received packet(std::uint8_t flags, std::u16string root, std::u16string text = u"Hello",
                     std::u16string language = u"EN", Transport transport = Transport::Udp) {
    MessagePacket p;
    p.language = std::move(language);
    p.msgGuid = root;
    p.msgRootId = std::move(root);
    p.msgText = std::move(text);
    p.systemMessage = flags;
    const auto bytes = p.serialize();
    return {transport, "127.0.0.1", std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

std::vector<ReportKind> kinds(const test::TestPeer& peer) {
    std::vector<ReportKind> k;
    for (const auto& r : peer.received()) k.push_back(ReportPacket::parse(r.data).kind);
    return k;
}

QString shownText(const ClientApp& app) {
    return app.window() ? app.window()->textView()->text() : QString();
}

void pressOk(ClientApp& app) {
    ASSERT_NE(app.window(), nullptr);
    app.window()->okButton()->click();
}

// One client with its report thread, reporting to a test peer.
struct Fixture {
    explicit Fixture(MessageWindowOptions options = {}) : app(config(), names, reports, options) {
        diag::setEventLogSwitch(0);
    }
    ClientConfig config() {
        ClientConfig c;
        c.portSender = server.port();
        return c;
    }
    test::TestPeer server;
    ClientNames names{"HOST", "HOST.EXAMPLE"};
    ReportSender reports;
    ClientApp app;
};

}  // namespace

TEST(ClientLoop, probesAndRepeatsAreAnsweredWhileTextsWaitTheirTurn) {
    Fixture f;
    const auto now = Clock::now();
    f.app.handlePackets({packet(1, u"700", u"first"), packet(5, u"701")}, now);
    ASSERT_TRUE(f.server.waitForCount(2));  // delivered, then the check probe's answer
    EXPECT_EQ(kinds(f.server),
              (std::vector<ReportKind>{ReportKind::Delivered, ReportKind::Active}));
    EXPECT_EQ(shownText(f.app), QStringLiteral("first"));

    // While "first" is open: a copy of it waits (it is no repeat until it is confirmed), two
    // more texts wait behind it, and a discovery probe is answered at once.
    f.app.handlePackets({packet(1, u"700", u"first"), packet(1, u"702", u"second"),
                         packet(0, u"703", u"third"), packet(2, u"704")},
                        now);
    ASSERT_TRUE(f.server.waitForCount(3));
    EXPECT_EQ(kinds(f.server).back(), ReportKind::IAmHere);
    EXPECT_EQ(f.app.waitingCount(), 3u);
    EXPECT_EQ(shownText(f.app), QStringLiteral("first"));

    // Confirmed; the copy behind it is a repeat by now and answered as one, and "second"
    // comes up.
    pressOk(f.app);
    EXPECT_EQ(f.app.lastConfirmedRootId(), u"700");
    EXPECT_EQ(shownText(f.app), QStringLiteral("second"));
    ASSERT_TRUE(f.server.waitForCount(6));
    pressOk(f.app);  // "third" asked for no reports
    EXPECT_EQ(shownText(f.app), QStringLiteral("third"));
    ASSERT_TRUE(f.server.waitForCount(7));
    pressOk(f.app);
    EXPECT_EQ(f.app.window(), nullptr);
    EXPECT_EQ(f.app.lastConfirmedRootId(), u"703");

    // A last probe proves nothing else went out before it.
    f.app.handlePackets({packet(5, u"705")}, Clock::now());
    ASSERT_TRUE(f.server.waitForCount(8));
    EXPECT_EQ(kinds(f.server),
              (std::vector<ReportKind>{ReportKind::Delivered, ReportKind::Active,
                                       ReportKind::IAmHere, ReportKind::Confirmed,
                                       ReportKind::Confirmed, ReportKind::Delivered,
                                       ReportKind::Confirmed, ReportKind::Active}));
    std::vector<std::u16string> roots;
    for (const auto& r : f.server.received())
        roots.push_back(ReportPacket::parse(r.data).msgRootId);
    EXPECT_EQ(roots, (std::vector<std::u16string>{u"700", u"701", u"704", u"700", u"700", u"702",
                                                  u"702", u"705"}));
}

TEST(ClientLoop, aWaitingMessageCountsItsMinutesFromItsArrival) {
    MessageWindowOptions options;
    options.minuteInterval = 1h;  // no tick during the test: only the arrival counts
    Fixture f(options);
    const auto now = Clock::now();
    f.app.handlePackets({packet(0, u"1", u"fresh")}, now);
    EXPECT_EQ(f.app.window()->windowTitle(), QStringLiteral("Message"));
    // Came in long ago while another message was on screen.
    f.app.handlePackets({packet(0, u"2", u"older", u"RU")}, now - 2h - 1min);
    f.app.handlePackets({packet(0, u"3", u"oldest", u"EN")}, now - 21h);
    pressOk(f.app);
    EXPECT_EQ(shownText(f.app), QStringLiteral("older"));
    EXPECT_EQ(f.app.window()->windowTitle(), QStringLiteral("Сообщение 2 минуты назад"));
    pressOk(f.app);
    EXPECT_EQ(f.app.window()->windowTitle(), QStringLiteral("Message 21 minutes ago"));
    pressOk(f.app);
}

TEST(ClientLoop, titleCountsMinutesAndStartsAgainForTheNextWindow) {
    MessageWindowOptions options;
    // Long enough that the window is up before the first "minute" has passed.
    options.minuteInterval = 250ms;
    Fixture f(options);
    std::vector<QString> titles;
    f.app.handlePackets({packet(1, u"11")}, Clock::now());
    MessageWindow* w = f.app.window();
    ASSERT_NE(w, nullptr);
    titles.push_back(w->windowTitle());
    QObject::connect(w, &QWidget::windowTitleChanged, w, [&](const QString& t) {
        titles.push_back(t);
        if (t == QStringLiteral("Message 3 minutes ago")) w->okButton()->click();
    });
    QTRY_VERIFY_WITH_TIMEOUT(f.app.window() == nullptr, 10000);
    EXPECT_EQ(titles, (std::vector<QString>{QStringLiteral("Message"),
                                            QStringLiteral("Message 1 minute ago"),
                                            QStringLiteral("Message 2 minutes ago"),
                                            QStringLiteral("Message 3 minutes ago")}));
    EXPECT_EQ(f.app.lastConfirmedRootId(), u"11");

    // The next window starts with the bare title word again.
    f.app.handlePackets({packet(0, u"12", u"Hello", u"RU")}, Clock::now());
    EXPECT_EQ(f.app.window()->windowTitle(), QStringLiteral("Сообщение"));
    QTRY_COMPARE_WITH_TIMEOUT(f.app.window()->windowTitle(),
                              QStringLiteral("Сообщение 1 минуту назад"), 10000);
    pressOk(f.app);
    EXPECT_EQ(f.app.lastConfirmedRootId(), u"12");  // remembered without reports too
}

TEST(ClientLoop, aFloodKeepsTheOldestFiftyWaitingAndDropsTheRest) {
    Fixture f;
    std::vector<net::Received> flood;
    for (int i = 0; i < 60; ++i)
        flood.push_back(packet(0, u"9", QString::number(i).toStdU16String()));
    flood.push_back(packet(5, u"probe"));  // still answered behind the flood
    f.app.handlePackets(flood, Clock::now());
    EXPECT_EQ(f.app.waitingCount(), ClientApp::kMaxWaiting);
    ASSERT_TRUE(f.server.waitForCount(1));
    EXPECT_EQ(kinds(f.server).back(), ReportKind::Active);

    std::vector<int> shown;
    while (f.app.window()) {
        shown.push_back(shownText(f.app).toInt());
        pressOk(f.app);
    }
    ASSERT_EQ(shown.size(), 51u);  // the one on screen and the fifty behind it
    for (int i = 0; i < 51; ++i) EXPECT_EQ(shown[static_cast<std::size_t>(i)], i);

    // Room again once the queue has drained.
    f.app.handlePackets({packet(0, u"9", u"after")}, Clock::now());
    EXPECT_EQ(shownText(f.app), QStringLiteral("after"));
}

TEST(ClientLoop, aReportStuckInItsConnectHoldsUpNeitherTheWindowNorOtherAnswers) {
    diag::setEventLogSwitch(0);
    // The server's report port: over TCP it takes no connection (and the connect waits far
    // longer than the test), over UDP it listens.
    const int port = test::freePort();
    test::DeafTcpPort deaf("127.0.0.1", port);
    net::UdpListener udpAnswers;
    ASSERT_TRUE(udpAnswers.open(port));
    ClientConfig config;
    config.portSender = port;
    ReportSender reports(std::chrono::hours(1));
    ClientApp app(config, {"HOST", "HOST.EXAMPLE"}, reports);

    app.handlePackets({packet(1, u"31", u"over TCP", u"EN", Transport::Tcp)}, Clock::now());
    ASSERT_NE(app.window(), nullptr);  // "delivered" is on its way, and stuck
    pressOk(app);
    EXPECT_EQ(app.window(), nullptr);  // OK is taken at once; "confirmed" waits behind
    // A probe from the same server over UDP is answered all the same.
    app.handlePackets({packet(5, u"32")}, Clock::now());
    std::optional<net::Received> answer;
    ASSERT_TRUE(test::waitFor([&] { return (answer = udpAnswers.poll(1000)).has_value(); }));
    EXPECT_EQ(ReportPacket::parse(answer->data).kind, ReportKind::Active);
    EXPECT_EQ(ReportPacket::parse(answer->data).msgRootId, u"32");
    // Going away with both reports still under way does not wait for their connect.
}
