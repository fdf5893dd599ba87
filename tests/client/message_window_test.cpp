#include "client/message_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>

#include "client/window_text.h"

using namespace tw::client;
using namespace std::chrono_literals;

namespace {

struct Expected {
    int w, h;
};

// The rule, from the same font's metrics: widest line, one line height per line.
Expected fromMetrics(const QStringList& lines) {
    const QFontMetrics fm(messageFont());
    int w = 0;
    for (const QString& l : lines) w = std::max(w, fm.horizontalAdvance(l));
    return {w, static_cast<int>(lines.size()) * fm.height()};
}

}  // namespace

TEST(MessageWindow, sizeAndButtonFollowTheFontMetrics) {
    const QString longLine(500, u'W');
    struct Case {
        const char* name;
        QString text;
        QStringList lines;
    } cases[] = {
        {"one line",
         QStringLiteral("Server restarts at 18:00"),
         {QStringLiteral("Server restarts at 18:00")}},
        {"two lines",
         QStringLiteral("Short\nA much longer second line"),
         {QStringLiteral("Short"), QStringLiteral("A much longer second line")}},
        {"empty middle line",
         QStringLiteral("Top\n\nBottom line"),
         {QStringLiteral("Top"), QString(), QStringLiteral("Bottom line")}},
        {"empty text", QString(), {QString()}},
        {"markup and ampersand measured literally",
         QStringLiteral("<b>Tom & Jerry</b>"),
         {QStringLiteral("<b>Tom & Jerry</b>")}},
        {"500 characters", longLine, {longLine}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Expected e = fromMetrics(c.lines);
        MessageWindow w(c.text, QStringLiteral("Message"));
        EXPECT_EQ(w.textView()->geometry(), QRect(10, 10, e.w, e.h));
        EXPECT_EQ(w.textView()->text(), c.text);
        EXPECT_EQ(w.size(), QSize(10 + e.w + 10, 10 + e.h + 10 + 25 + 10));
        EXPECT_EQ(w.okButton()->geometry(), QRect((10 + e.w + 10) / 2 - 45, 10 + e.h + 10, 90, 25));
        EXPECT_GT(e.h, 0);
    }
    const QFontMetrics fm(messageFont());
    // The empty middle line counts as a full line.
    EXPECT_EQ(layoutMessage(QStringLiteral("a\n\nb"), fm).textSize.height(), 3 * fm.height());
}

TEST(MessageWindow, isCentredOnThePrimaryScreenEvenWhenWiderThanIt) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    MessageWindow small(QStringLiteral("Hello"), QStringLiteral("Message"));
    small.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&small));
    const QRect f = small.frameGeometry();
    EXPECT_EQ(f.topLeft(),
              QPoint((screen.width() - f.width()) / 2, (screen.height() - f.height()) / 2));

    MessageWindow wide(QString(500, u'W'), QStringLiteral("Message"));
    wide.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wide));
    EXPECT_GT(wide.width(), screen.width());
    EXPECT_EQ(wide.frameGeometry().left(), 0);

    EXPECT_EQ(centredFramePosition(QSize(1280, 1024), QSize(301, 100)), QPoint(489, 462));
    EXPECT_EQ(centredFramePosition(QSize(1280, 1024), QSize(6000, 2000)), QPoint(0, 0));
}

TEST(MessageWindow, staysOnTopWithoutTitleBarButtons) {
    MessageWindow w(QStringLiteral("x"), QStringLiteral("Message"));
    const Qt::WindowFlags f = w.windowFlags();
    EXPECT_TRUE(f & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(f & Qt::WindowTitleHint);
    EXPECT_TRUE(f & Qt::CustomizeWindowHint);
    EXPECT_FALSE(f & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                      Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());  // not resizable
}

TEST(MessageWindow, onlyOkClosesItAndKeysWaitForTheGuard) {
    MessageWindow w(QStringLiteral("Read me"), QStringLiteral("Message"));
    QSignalSpy confirmed(&w, &MessageWindow::confirmed);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    EXPECT_FALSE(w.close());  // a close request from outside is refused
    EXPECT_TRUE(w.isVisible());

    // Someone typing in another window when the message pops up.
    w.armKeyGuard(1h);
    for (Qt::Key k : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space, Qt::Key_Escape})
        QTest::keyClick(w.okButton(), k);
    EXPECT_EQ(confirmed.count(), 0);
    QTest::mouseClick(w.okButton(), Qt::LeftButton);  // a click counts at once
    EXPECT_EQ(confirmed.count(), 1);

    w.armKeyGuard(0ms);
    QTest::keyClick(w.okButton(), Qt::Key_Return);
    EXPECT_EQ(confirmed.count(), 2);
    QTest::keyClick(w.okButton(), Qt::Key_Space);
    EXPECT_EQ(confirmed.count(), 3);

    w.release();
    EXPECT_FALSE(w.isVisible());
}

TEST(WindowTitle, countsMinutesInBothLanguages) {
    struct Row {
        int n;
        const char16_t* en;
        const char16_t* ru;
    } rows[] = {
        {1, u"Message 1 minute ago", u"Сообщение 1 минуту назад"},
        {2, u"Message 2 minutes ago", u"Сообщение 2 минуты назад"},
        {5, u"Message 5 minutes ago", u"Сообщение 5 минут назад"},
        {11, u"Message 11 minutes ago", u"Сообщение 11 минут назад"},
        {12, u"Message 12 minutes ago", u"Сообщение 12 минут назад"},
        {13, u"Message 13 minutes ago", u"Сообщение 13 минут назад"},
        {14, u"Message 14 minutes ago", u"Сообщение 14 минут назад"},
        {20, u"Message 20 minutes ago", u"Сообщение 20 минут назад"},
        {21, u"Message 21 minutes ago", u"Сообщение 21 минуту назад"},
        {22, u"Message 22 minutes ago", u"Сообщение 22 минуты назад"},
        {111, u"Message 111 minutes ago", u"Сообщение 111 минут назад"},
        {1001, u"Message 1001 minutes ago", u"Сообщение 1001 минуту назад"},
    };
    WindowWords en = chooseWindowWords(u"EN", {});
    WindowWords ru = chooseWindowWords(u"RU", {});
    EXPECT_EQ(en.title, QStringLiteral("Message"));
    EXPECT_EQ(ru.title, QStringLiteral("Сообщение"));
    for (const Row& r : rows) {
        EXPECT_EQ(minuteTitle(en, r.n), QString::fromUtf16(r.en)) << r.n;
        EXPECT_EQ(minuteTitle(ru, r.n), QString::fromUtf16(r.ru)) << r.n;
    }
}

TEST(WindowTitle, unknownLanguageKeepsThePreviousWordsAndEnding) {
    // Before any message there are no words at all.
    WindowWords none = chooseWindowWords(u"DE", {});
    EXPECT_TRUE(none.title.isEmpty());
    EXPECT_EQ(minuteTitle(none, 1), QStringLiteral(" 1  "));

    WindowWords ru = chooseWindowWords(u"RU", {});
    EXPECT_EQ(minuteTitle(ru, 3), QStringLiteral("Сообщение 3 минуты назад"));
    WindowWords other = chooseWindowWords(u"ru", ru);  // letter case matters
    EXPECT_EQ(other.title, QStringLiteral("Сообщение"));
    // The ending the last window used stays, whatever the count.
    EXPECT_EQ(minuteTitle(other, 5), QStringLiteral("Сообщение 5 минуты назад"));
    EXPECT_EQ(minuteTitle(other, 11), QStringLiteral("Сообщение 11 минуты назад"));

    WindowWords en = chooseWindowWords(u"EN", other);
    EXPECT_EQ(minuteTitle(en, 1), QStringLiteral("Message 1 minute ago"));
}
