#include "client/message_window.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
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

// Texts that fit the screen and are wider than OK keep exactly the size of their lines.
TEST(MessageWindow, sizeAndButtonFollowTheFontMetrics) {
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
         QStringLiteral("Top\n\nThe bottom line is longer"),
         {QStringLiteral("Top"), QString(), QStringLiteral("The bottom line is longer")}},
        {"markup and ampersand measured literally",
         QStringLiteral("<b>Tom & Jerry</b>"),
         {QStringLiteral("<b>Tom & Jerry</b>")}},
        {"40 characters", QString(40, u'W'), {QString(40, u'W')}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Expected e = fromMetrics(c.lines);
        MessageWindow w(c.text, QStringLiteral("Message"));
        EXPECT_EQ(w.textView()->geometry(), QRect(10, 10, e.w, e.h));
        EXPECT_EQ(w.textView()->text(), c.text);
        EXPECT_EQ(w.size(), QSize(10 + e.w + 10, 10 + e.h + 10 + 25 + 10));
        EXPECT_EQ(w.okButton()->geometry(), QRect((10 + e.w + 10) / 2 - 45, 10 + e.h + 10, 90, 25));
        EXPECT_GT(e.w, 90);  // narrower texts are widened for OK (below)
    }
    const QFontMetrics fm(messageFont());
    // The empty middle line counts as a full line.
    EXPECT_EQ(layoutMessage(QStringLiteral("a\n\nb"), fm).textSize.height(), 3 * fm.height());
}

TEST(MessageWindow, tooWideTextWrapsAtWordsAndTooNarrowWindowHoldsOk) {
    const QFontMetrics fm(messageFont());
    const int max = 300;
    QString words;
    for (int i = 0; words.size() < 500; ++i) words += QStringLiteral("word%1 ").arg(i);
    words.truncate(500);
    struct Case {
        const char* name;
        QString text;
        QString joiner;  // what the breaks took out
    } cases[] = {
        {"words", words, QStringLiteral(" ")},
        {"one word of 500 characters", QString(500, u'W'), QString()},
        {"surrogate pairs are not split", QString::fromUtf16(u"\U0001F600").repeated(200),
         QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MessageLayout l = layoutMessage(c.text, fm, {max});
        ASSERT_GT(l.lines.size(), 1);
        int widest = 0;
        for (const QString& line : l.lines) {
            EXPECT_LE(fm.horizontalAdvance(line), max) << line.toStdString();
            EXPECT_FALSE(line.isEmpty());
            EXPECT_FALSE(line.back().isHighSurrogate());
            widest = std::max(widest, fm.horizontalAdvance(line));
        }
        EXPECT_EQ(l.lines.join(c.joiner), c.text);
        EXPECT_EQ(l.textSize, QSize(widest, static_cast<int>(l.lines.size()) * fm.height()));
        EXPECT_EQ(l.innerSize.width(), 10 + widest + 10);
    }
    // Greedy: a break comes only where the next word would not fit.
    const MessageLayout l = layoutMessage(words, fm, {max});
    for (qsizetype i = 0; i + 1 < l.lines.size(); ++i)
        EXPECT_GT(fm.horizontalAdvance(l.lines[i] + u' ' + l.lines[i + 1].section(u' ', 0, 0)),
                  max);
    // Lines of their own are kept, only the long one is wrapped.
    const MessageLayout mixed = layoutMessage(QStringLiteral("Short\n") + words, fm, {max});
    EXPECT_EQ(mixed.lines.first(), QStringLiteral("Short"));

    // Too narrow for OK: the window is widened, the text area with it, OK inside.
    for (const QString& narrow : {QStringLiteral("Hi"), QString(), QStringLiteral("i")}) {
        const MessageLayout n = layoutMessage(narrow, fm, {max});
        EXPECT_EQ(n.innerSize.width(), 110);
        EXPECT_EQ(n.textSize.width(), 90);
        EXPECT_EQ(n.buttonPos, QPoint(10, 10 + fm.height() + 10));
    }
}

TEST(MessageWindow, tooTallTextShowsTheLinesThatFitAndScrolls) {
    const QFontMetrics fm(messageFont());
    QStringList many;
    for (int i = 0; i < 200; ++i) many << QStringLiteral("line %1").arg(i);
    const QString text = many.join(u'\n');
    const TextLimits limits{400, 10 * fm.height() + 5, 15};
    const MessageLayout l = layoutMessage(text, fm, limits);
    EXPECT_TRUE(l.scrolls());
    EXPECT_EQ(l.lines, many);
    EXPECT_EQ(l.textSize.height(), 200 * fm.height());
    EXPECT_EQ(l.viewSize, QSize(l.textSize.width() + 15, 10 * fm.height()));
    EXPECT_EQ(l.innerSize, QSize(10 + l.viewSize.width() + 10, 10 + l.viewSize.height() + 45));
    EXPECT_EQ(l.buttonPos.y(), 10 + l.viewSize.height() + 10);
    // A text that fits does not scroll, and wide lines leave room for the scroll bar.
    EXPECT_FALSE(layoutMessage(QStringLiteral("a\nb"), fm, limits).scrolls());
    const MessageLayout wide = layoutMessage((QString(60, u'W') + u'\n').repeated(40), fm, limits);
    EXPECT_TRUE(wide.scrolls());
    EXPECT_LE(wide.viewSize.width(), 400);

    MessageWindow w(text, QStringLiteral("Message"));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QScreen* screen = QGuiApplication::primaryScreen();
    EXPECT_TRUE(screen->availableGeometry().contains(w.frameGeometry()));
    ASSERT_NE(w.scrollArea(), nullptr);
    EXPECT_EQ(w.textView()->text(), text);
    QScrollBar* bar = w.scrollArea()->verticalScrollBar();
    EXPECT_EQ(bar->value(), 0);
    QTest::keyClick(w.okButton(), Qt::Key_PageDown);
    EXPECT_GT(bar->value(), 0);
    QTest::keyClick(w.okButton(), Qt::Key_End);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(w.okButton()->hasFocus());
}

TEST(MessageWindow, isCentredOnThePrimaryScreenAndALongTextKeepsOkOnIt) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen->geometry().size();
    MessageWindow small(QStringLiteral("Hello"), QStringLiteral("Message"));
    small.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&small));
    const QRect f = small.frameGeometry();
    EXPECT_EQ(f.topLeft(),
              QPoint((size.width() - f.width()) / 2, (size.height() - f.height()) / 2));

    for (const QString& text :
         {QString(500, u'W'), QString(QStringLiteral("long words ")).repeated(45),
          QStringLiteral("Hi"), QString(500, u'\n')}) {
        MessageWindow w(text, QStringLiteral("Message"));
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        EXPECT_TRUE(screen->availableGeometry().contains(w.frameGeometry()));
        const QRect ok(w.okButton()->mapToGlobal(QPoint(0, 0)), w.okButton()->size());
        EXPECT_TRUE(w.geometry().contains(ok));
        EXPECT_EQ(ok.size(), QSize(90, 25));
        EXPECT_EQ(w.textView()->text(), text);
    }

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

TEST(MessageWindow, aKeyCountsOnlyAfterAQuietGuardWithNoKeyPressed) {
    constexpr auto guard = 300ms;
    MessageWindow w(QStringLiteral("Read me"), QStringLiteral("Message"));
    QSignalSpy confirmed(&w, &MessageWindow::confirmed);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.armKeyGuard(guard);
    QElapsedTimer sinceKey;
    sinceKey.start();
    const auto waitQuiet = [&] {
        while (sinceKey.elapsed() <= guard.count() + 50) QTest::qWait(20);
    };

    // Long after the window came up, but right after another key: typing goes on.
    for (Qt::Key typed : {Qt::Key_A, Qt::Key_Z, Qt::Key_1}) {
        waitQuiet();
        QTest::keyClick(w.okButton(), typed);
        for (Qt::Key k : {Qt::Key_Return, Qt::Key_Space, Qt::Key_Enter})
            QTest::keyClick(w.okButton(), k);
        sinceKey.restart();
        EXPECT_EQ(confirmed.count(), 0);
    }
    // A quiet guard later the key is taken, Space (pressed and released) as well as Return.
    waitQuiet();
    QTest::keyClick(w.okButton(), Qt::Key_Space);
    EXPECT_EQ(confirmed.count(), 1);
    sinceKey.restart();
    waitQuiet();
    QTest::keyClick(w.okButton(), Qt::Key_Return);
    EXPECT_EQ(confirmed.count(), 2);
}

TEST(MessageWindow, comesBackWhenMinimisedOrHiddenFromOutside) {
    MessageWindow w(QStringLiteral("Still here"), QStringLiteral("Message"));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.showMinimized();
    QTRY_VERIFY(w.isVisible() && !(w.windowState() & Qt::WindowMinimized));
    w.hide();
    QTRY_VERIFY(w.isVisible());
    // Released by the program, it goes for good.
    w.release();
    QTest::qWait(50);
    EXPECT_FALSE(w.isVisible());
}

TEST(MessageWindow, screenReadersGetAnAlertWithReadableTextAndADefaultOk) {
    const QString text = QStringLiteral("Fire drill & <b>stairs</b>\nat 11:00");
    MessageWindow w(text, QStringLiteral("Message"));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&w);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::AlertMessage);
    EXPECT_EQ(window->text(QAccessible::Name), QStringLiteral("Message"));
    EXPECT_EQ(window->text(QAccessible::Description), text);

    QAccessibleInterface* label = nullptr;
    QAccessibleInterface* ok = nullptr;
    for (int i = 0; i < window->childCount(); ++i) {
        QAccessibleInterface* c = window->child(i);
        if (c->role() == QAccessible::StaticText) label = c;
        if (c->role() == QAccessible::PushButton) ok = c;
    }
    ASSERT_NE(label, nullptr);
    QAccessibleTextInterface* t = label->textInterface();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->characterCount(), text.size());
    EXPECT_EQ(t->text(0, t->characterCount()), text);
    EXPECT_EQ(t->text(0, 10), QStringLiteral("Fire drill"));
    EXPECT_EQ(t->text(-5, 1000), text);  // out-of-range offsets are clamped, not trusted
    EXPECT_TRUE(label->state().readOnly);
    EXPECT_EQ(label->text(QAccessible::Name), text);

    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(QAccessible::Name), QStringLiteral("OK"));
    EXPECT_TRUE(ok->state().defaultButton);
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
