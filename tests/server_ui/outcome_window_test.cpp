// The operator's view of a mailing's outcome, with the real engine and fake clients on
// loopback: the counts in the status bar, the follow-up ticks, the tree filter, the history
// window and its export.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>

#include "server/engine/engine.h"
#include "server/ui/client_tree_view.h"
#include "server/ui/history_dialog.h"
#include "server/ui/outcome_wiring.h"
#include "tests/server_engine/engine_test_support.h"
#include "ui_fixture.h"

namespace tw::ui::test {
namespace {

using tw::test::clientAt;
using tw::test::FakeClient;
using tw::test::waitUntil;

class OutcomeWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        config.PortListen = tw::test::freePort();
        config.PortSender = tw::test::freePort();
        config.Timer = 2;
        config.Measure = tw::server::TimeUnit::Seconds;
        config.Broadcast_IP = QStringLiteral("127.255.255.255");
        ctx.settings = &settings;
        ctx.hostName = QStringLiteral("TESTHOST");
        makeWindow();
        treeView = std::make_unique<ClientTreeView>(window->tree(), ctx.tree, ctx.clientsLock);
        tw::test::writeFile(dir / "clients.xml",
                            std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                        "<root config=\"3.1\">\n") +
                                tw::test::kOffice + "\n</root>\n");
        const auto r = tw::server::LoadClientsDatabase(dir / "clients.xml", ctx.tree.records(),
                                                       treeView.get(), texts);
        ASSERT_FALSE(r.failed());
        ctx.tree.rebuildIndex();
        treeView->expandItem(0);
        treeView->expandItem(1);
        engine = std::make_unique<tw::server::ServerEngine>(ctx, texts);
        engine->setHistoryFile(dir / "mailings.jsonl");
        connectOutcome(*window, *treeView, *engine);
        ASSERT_TRUE(engine->startListener());
    }
    void TearDown() override { engine.reset(); }

    Qt::CheckState shown(int index) const { return treeView->item(index)->checkState(0); }
    QString outcome() const { return window->outcomeFieldText(); }

    tw::server::ServerContext ctx;
    std::unique_ptr<ClientTreeView> treeView;
    std::unique_ptr<tw::server::ServerEngine> engine;
};

TEST_F(OutcomeWindowTest, countsFollowUpFilterAndHistoryOfOneMailing) {
    FakeClient a(clientAt("127.0.0.2", config.PortSender, config.PortListen, true));
    FakeClient b(clientAt("127.0.0.3", config.PortSender, config.PortListen, false));
    FakeClient c(clientAt("127.0.0.4", config.PortSender, config.PortListen, false));
    EXPECT_FALSE(window->followUpAction(false)->isEnabled()) << "no mailing to follow up yet";
    treeView->checkOnly({2, 3, 4});
    EXPECT_EQ(shown(1), Qt::Checked);

    engine->sendRequest(QStringLiteral("Fire drill at 11"));
    const QRegularExpression during(QStringLiteral(
        "^Confirmed 0 \u00b7 Delivered 1 \u00b7 Not delivered 0 of 3 \u00b7 waiting until "
        "\\d\\d:\\d\\d:\\d\\d$"));
    ASSERT_TRUE(waitUntil([&] { return during.match(outcome()).hasMatch(); }))
        << outcome().toStdString();
    ASSERT_TRUE(b.waitForCount(1));
    b.answer(b.received()[0], tw::ReportKind::Confirmed);
    ASSERT_TRUE(waitUntil([&] { return outcome().startsWith(QStringLiteral("Confirmed 1 ")); }));

    // The waiting time ends: C never answered.
    ASSERT_TRUE(waitUntil([&] {
        return outcome().startsWith(QStringLiteral(
            "Confirmed 1 \u00b7 Delivered 1 \u00b7 Not delivered 1 of 3 \u00b7 waiting ended "));
    })) << outcome().toStdString();
    ASSERT_TRUE(waitUntil([&] { return window->statusText().endsWith(outcome()); }))
        << "the end is told in the first field too: " << window->statusText().toStdString();

    // Follow-up: exactly those who did not confirm, then those who were not delivered.
    window->editor()->clear();
    window->followUpAction(false)->trigger();
    EXPECT_EQ(shown(2), Qt::Checked);
    EXPECT_EQ(shown(3), Qt::Unchecked);
    EXPECT_EQ(shown(4), Qt::Checked);
    EXPECT_EQ(shown(1), Qt::PartiallyChecked);
    EXPECT_EQ(window->editor()->toPlainText(), QStringLiteral("Fire drill at 11"));
    EXPECT_TRUE(window->statusText().endsWith(QStringLiteral("Ticked for sending again: 2")));
    window->editor()->setPlainText(QStringLiteral("Reminder: fire drill"));
    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(shown(2), Qt::Unchecked);
    EXPECT_EQ(shown(4), Qt::Checked);
    EXPECT_EQ(window->editor()->toPlainText(), QStringLiteral("Reminder: fire drill"))
        << "the operator's own words stay";

    // The filter: by address, by a folder's caption, and Escape shows everything again.
    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    QLineEdit* filter = window->filterField();
    ASSERT_TRUE(filter->isVisible());
    EXPECT_TRUE(filter->hasFocus());
    QTest::keyClicks(filter, QStringLiteral("0.0.3"));
    EXPECT_FALSE(treeView->item(3)->isHidden());
    EXPECT_FALSE(treeView->item(1)->isHidden()) << "the folder that leads to it";
    EXPECT_TRUE(treeView->item(2)->isHidden());
    EXPECT_TRUE(treeView->item(4)->isHidden());
    filter->setText(QStringLiteral("OFFICE"));
    for (int i = 0; i <= 4; ++i) EXPECT_FALSE(treeView->item(i)->isHidden()) << i;
    filter->setText(QStringLiteral("pc-c"));
    EXPECT_TRUE(treeView->item(2)->isHidden());
    EXPECT_FALSE(treeView->item(4)->isHidden());
    QTest::keyClick(filter, Qt::Key_Escape);
    EXPECT_FALSE(filter->isVisible());
    for (int i = 0; i <= 4; ++i) EXPECT_FALSE(treeView->item(i)->isHidden()) << i;

    // A late confirmation reaches the counts and the history.
    ASSERT_TRUE(c.waitForCount(1));
    c.answer(c.received()[0], tw::ReportKind::Confirmed);
    ASSERT_TRUE(waitUntil([&] { return outcome().startsWith(QStringLiteral("Confirmed 2 ")); }));

    HistoryDialog history(engine->historyFile(), texts);
    ASSERT_EQ(history.mailings()->topLevelItemCount(), 1);
    const QTreeWidgetItem* row = history.mailings()->topLevelItem(0);
    EXPECT_EQ(row->text(1), QStringLiteral("Fire drill at 11"));
    EXPECT_EQ(row->text(2), QStringLiteral("UDP"));
    EXPECT_EQ(row->text(3), QStringLiteral("2"));
    EXPECT_EQ(row->text(6), QStringLiteral("3"));
    ASSERT_EQ(history.clients()->topLevelItemCount(), 3);
    EXPECT_EQ(history.clients()->topLevelItem(2)->text(2), QStringLiteral("Confirmed"));
    const auto csv = dir / "export.csv";
    history.setExportPathChooser([&] { return QString::fromStdString(csv.string()); });
    history.findChild<QPushButton*>(QStringLiteral("History_Export"))->click();
    const std::string exported = tw::test::readFile(csv);
    EXPECT_EQ(exported.substr(0, 32), "Name,Address,State,Report time\r\n");
    EXPECT_NE(exported.find("PC-A,127.0.0.2,Delivered,"), std::string::npos) << exported;
    EXPECT_NE(exported.find("PC-C,127.0.0.4,Confirmed,"), std::string::npos) << exported;
}

}  // namespace
}  // namespace tw::ui::test
