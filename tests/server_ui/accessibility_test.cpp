// What a screen reader and a keyboard user get from the operator's window, read through Qt's
// own accessibility interfaces (the ones the accessibility bus publishes).
#include <QAccessible>
#include <QComboBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "server/ui/client_tree_view.h"
#include "server/ui/layout/gadgets.h"
#include "ui_fixture.h"

namespace tw::ui::test {
namespace {

QString accessibleName(QWidget* w) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// Every name below `iface`, depth first (tree cells sit a level or two down).
void collectNames(QAccessibleInterface* iface, QStringList& out, int depth = 0) {
    if (!iface || depth > 4) return;
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface* child = iface->child(i);
        if (!child) continue;
        out << child->text(QAccessible::Name);
        collectNames(child, out, depth + 1);
    }
}

class AccessibilityTest : public MainWindowTest {};

TEST_F(AccessibilityTest, everyGadgetHasANameInTheInterfaceLanguage) {
    makeWindow();
    const auto& b = window->built();
    EXPECT_EQ(accessibleName(window->editor()), QStringLiteral("Message text"));
    EXPECT_EQ(accessibleName(window->templatesList()), QStringLiteral("Templates"));
    EXPECT_EQ(accessibleName(window->tree()), QStringLiteral("Clients"));
    EXPECT_EQ(accessibleName(b.widget<QSpinBox>(Id::Spin_Timer)), QStringLiteral("Waiting time"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(b.widget<QComboBox>(Id::Combo_Timer))
                  ->text(QAccessible::Description),
              QStringLiteral("Unit of the waiting time"));
    EXPECT_EQ(accessibleName(b.widget<QToolButton>(Id::Button_Scan)),
              QStringLiteral("Clients scanner"));
    EXPECT_EQ(accessibleName(b.widget<QToolButton>(Id::Button_Config)), QStringLiteral("Settings"));
    EXPECT_EQ(accessibleName(window->sendButton()), QStringLiteral("Send message"));

    texts.setLanguage(QStringLiteral("RU"), 47128, nullptr);
    makeWindow();
    EXPECT_EQ(accessibleName(window->editor()), QStringLiteral("Текст сообщения"));
    EXPECT_EQ(accessibleName(window->tree()), QStringLiteral("Клиенты"));
}

TEST_F(AccessibilityTest, tabLeavesTheEditorWithoutATabCharacter) {
    makeWindow();
    window->activateWindow();
    window->editor()->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->editor()->hasFocus(); }));
    QTest::keyClicks(window->editor(), QStringLiteral("Hi"));
    QTest::keyClick(window->editor(), Qt::Key_Tab);
    EXPECT_EQ(window->editor()->toPlainText(), QStringLiteral("Hi"));
    EXPECT_FALSE(window->editor()->hasFocus());
}

TEST_F(AccessibilityTest, treeItemsSayTheirCheckAndDeliveryState) {
    makeWindow();
    tw::server::ClientTree clients;
    std::mutex lock;
    ClientTreeView view(window->tree(), clients, lock);
    tw::test::writeFile(dir / "clients.xml",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root config=\"3.1\">\n"
                        "<group name=\"Office\"><key name=\"Anna\">10.0.0.5</key>"
                        "<key name=\"Boris\">10.0.0.6</key></group>\n</root>\n");
    ASSERT_FALSE(
        tw::server::LoadClientsDatabase(dir / "clients.xml", clients.records(), &view, texts)
            .failed());
    clients.rebuildIndex();
    view.setTexts(&texts);
    view.checkOnly({2});
    {
        std::lock_guard guard(lock);
        auto& anna = clients.records()[2];
        anna.deliveryState = tw::server::DeliveryState::Confirmed;
        anna.reportTime = QStringLiteral("10:41:07");
        clients.updateUpwards(2, tw::server::DeliveryState::Confirmed);
        clients.records()[3].deliveryState = tw::server::DeliveryState::NotDelivered;
        clients.updateUpwards(3, tw::server::DeliveryState::NotDelivered);
    }
    view.refreshAll();
    view.expandItem(0);
    view.expandItem(1);
    QApplication::processEvents();

    QStringList names;
    collectNames(QAccessible::queryAccessibleInterface(window->tree()), names);
    EXPECT_TRUE(names.contains(QStringLiteral("Anna, checked, confirmed at 10:41:07")))
        << names.join(u'|').toStdString();
    EXPECT_TRUE(names.contains(QStringLiteral("Boris, unchecked, not delivered")))
        << names.join(u'|').toStdString();
    EXPECT_TRUE(names.contains(QStringLiteral("Office, partly checked, confirmed, not delivered")))
        << names.join(u'|').toStdString();
    EXPECT_EQ(view.item(2)->toolTip(0), QStringLiteral("Address: 10.0.0.5\nReport time: 10:41:07"));
}

TEST_F(AccessibilityTest, linkOpensFromTheKeyboardAndTheRussianStopCaptionFits) {
    HyperlinkLabel link(QStringLiteral("example.org"));
    EXPECT_EQ(link.focusPolicy(), Qt::StrongFocus);
    QSignalSpy clicked(&link, &HyperlinkLabel::clicked);
    QTest::keyClick(&link, Qt::Key_Return);
    QTest::keyClick(&link, Qt::Key_Space);
    EXPECT_EQ(clicked.count(), 2);

    texts.setLanguage(QStringLiteral("RU"), 47128, nullptr);
    makeWindow();
    QPushButton* send = window->sendButton();
    window->setSendCaption(texts[tw::server::Text::StopSending]);
    QApplication::processEvents();
    EXPECT_GE(send->width(), send->fontMetrics().horizontalAdvance(send->text()) + 8)
        << "the caption is not cut";
    window->setSendCaption(texts[tw::server::Text::SendMessage]);
    QApplication::processEvents();
    EXPECT_GE(send->width(), 133) << "never narrower than the layout made it";
}

}  // namespace
}  // namespace tw::ui::test
