#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include "client/client_app.h"
#include "client/message_window.h"
#include "common/platform/diagnostics.h"
#include "tests/support/support.h"

using namespace tw;
using namespace tw::client;
using namespace std::chrono_literals;

namespace {

MessageWindow* openWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<MessageWindow*>(w); m && m->isVisible()) return m;
    return nullptr;
}

// Runs one pass of the loop that opens a window, records its titles, and presses OK when
// the title reads `pressAt`.
std::vector<QString> showAndConfirmAt(ClientApp& app, const QString& pressAt) {
    std::vector<QString> titles;
    QTimer finder;
    finder.setInterval(1);
    QObject::connect(&finder, &QTimer::timeout, [&] {
        MessageWindow* w = openWindow();
        if (!w) return;
        finder.stop();
        titles.push_back(w->windowTitle());
        QObject::connect(w, &QWidget::windowTitleChanged, w,
                         [&titles, w, pressAt](const QString& t) {
                             titles.push_back(t);
                             if (t == pressAt) w->okButton()->click();
                         });
    });
    finder.start();
    EXPECT_TRUE(test::waitFor([&] { return app.pass(); }));
    return titles;
}

}  // namespace

TEST(ClientLoop, titleCountsMinutesAndStartsAgainForTheNextWindow) {
    diag::setEventLogSwitch(0);
    const int port = test::freePort();
    net::UdpListener udp;
    net::TcpListener tcp;
    ASSERT_TRUE(udp.open(port));
    ASSERT_TRUE(tcp.open(port));
    test::TestPeer server;
    ClientConfig config;
    config.portListen = port;
    config.portSender = server.port();
    MessageWindowOptions options;
    options.minuteInterval = 20ms;
    ClientApp app(config, {"HOST", "HOST.EXAMPLE"}, udp, tcp, options);

    const auto send = [&](std::u16string lang, std::u16string root, std::uint8_t flags) {
        MessagePacket p;
        p.language = lang;
        p.msgRootId = root;
        p.msgText = u"Hello";
        p.systemMessage = flags;
        const auto bytes = p.serialize();
        ASSERT_TRUE(net::sendBlock("127.0.0.1", port, Transport::Udp, bytes));
    };

    send(u"EN", u"11", 1);
    EXPECT_EQ(
        showAndConfirmAt(app, QStringLiteral("Message 3 minutes ago")),
        (std::vector<QString>{QStringLiteral("Message"), QStringLiteral("Message 1 minute ago"),
                              QStringLiteral("Message 2 minutes ago"),
                              QStringLiteral("Message 3 minutes ago")}));
    EXPECT_EQ(app.lastConfirmedRootId(), u"11");
    ASSERT_TRUE(server.waitForCount(2));

    send(u"RU", u"12", 0);
    EXPECT_EQ(showAndConfirmAt(app, QStringLiteral("Сообщение 2 минуты назад")),
              (std::vector<QString>{QStringLiteral("Сообщение"),
                                    QStringLiteral("Сообщение 1 минуту назад"),
                                    QStringLiteral("Сообщение 2 минуты назад")}));
    // Confirmed without reports: remembered all the same.
    EXPECT_EQ(app.lastConfirmedRootId(), u"12");
    send(u"EN", u"13", 5);
    ASSERT_TRUE(test::waitFor([&] { return app.pass(); }));
    ASSERT_TRUE(server.waitForCount(3));
    EXPECT_EQ(ReportPacket::parse(server.received()[2].data).reportMask, M_REP_ACTIVE);
    EXPECT_EQ(server.count(), 3u);
}
