#include "server/ui/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "server/ui/layout/gadgets.h"
#include "ui_fixture.h"

namespace tw::ui::test {
namespace {

class SettingsTest : public MainWindowTest {
protected:
    // Opens the dialog as the program does, changes every field, and leaves by `key`
    // (Escape, Enter) or by the close box when key is 0.
    std::unique_ptr<SettingsDialog> openAndEdit() {
        auto d = std::make_unique<SettingsDialog>(*programDocument(), nullptr, settings, texts);
        QDialog* w = d->dialog();
        w->show();
        w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(w));
        d->built().widget<QCheckBox>(Id::Check_Settings_Broad)->toggle();
        auto* ip = d->built().widget<Ipv4Field>(Id::IpAddr_Settings);
        ip->setAddress(QStringLiteral("10.1.2.255"));
        ip->setFocus();
        d->built().widget<QComboBox>(Id::Combo_ScanL)->setCurrentIndex(2);
        d->built().widget<QComboBox>(Id::Combo_ScanR)->setCurrentIndex(0);
        return d;
    }
    void expectUnchanged() {
        EXPECT_EQ(settings.snapshot().Broadcast, 0);
        EXPECT_EQ(settings.snapshot().Broadcast_IP, QStringLiteral("0.0.0.0"));
        EXPECT_EQ(settings.snapshot().SaveFormatName, 1);
        EXPECT_EQ(settings.snapshot().SaveFormatValue, 1);
    }
};

TEST_F(SettingsTest, EscapeAndCloseDiscardEnterConfirmsReopenShowsConfirmed) {
    {
        auto d = openAndEdit();
        QTest::keyClick(d->dialog(), Qt::Key_Escape);
        EXPECT_EQ(d->dialog()->result(), QDialog::Rejected);
        EXPECT_FALSE(d->dialog()->isVisible());
        expectUnchanged();
    }
    {
        auto d = openAndEdit();
        d->dialog()->close();
        expectUnchanged();
    }
    {
        auto d = openAndEdit();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !d->dialog()->isVisible(); }));
        EXPECT_EQ(d->dialog()->result(), QDialog::Accepted);
        EXPECT_EQ(settings.snapshot().Broadcast, 1);
        EXPECT_EQ(settings.snapshot().Broadcast_IP, QStringLiteral("10.1.2.255"));
        EXPECT_EQ(settings.snapshot().SaveFormatName, 2);
        EXPECT_EQ(settings.snapshot().SaveFormatValue, 0);
    }
    // The record, not the file, fills it again.
    SettingsDialog again(*programDocument(), nullptr, settings, texts);
    EXPECT_TRUE(again.built().widget<QCheckBox>(Id::Check_Settings_Broad)->isChecked());
    EXPECT_EQ(again.built().widget<Ipv4Field>(Id::IpAddr_Settings)->address(),
              QStringLiteral("10.1.2.255"));
    EXPECT_EQ(again.built().widget<QComboBox>(Id::Combo_ScanL)->currentText(),
              QStringLiteral("FQDN"));
    EXPECT_EQ(again.built().widget<QComboBox>(Id::Combo_ScanR)->currentText(),
              QStringLiteral("IP"));
    EXPECT_EQ(again.dialog()->windowTitle(), QStringLiteral("Settings"));
    EXPECT_EQ(again.built().widget<QCheckBox>(Id::Check_Settings_Broad)->text(),
              QStringLiteral("Use broadcast mode"));
}

TEST_F(SettingsTest, ConfirmedFromTheMenuSwitchesTheIndicator) {
    makeWindow();
    ASSERT_EQ(window->indicatorText(), QStringLiteral("UNICAST"));
    bool driven = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        EXPECT_FALSE(window->isEnabled() && QApplication::activeModalWidget() != d);
        d->findChild<QCheckBox*>(QStringLiteral("Check_Settings_Broad"))->setChecked(true);
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("Button_Settings_OK")),
                          Qt::LeftButton);
        driven = true;
    });
    QAction* settings = window->configMenu()->findChild<QAction*>(QStringLiteral("Menu_Settings"));
    ASSERT_TRUE(settings);
    settings->trigger();  // returns when the dialog has closed
    EXPECT_TRUE(driven);
    EXPECT_EQ(window->indicatorText(), QStringLiteral("BROADCAST"));
}

TEST_F(MainWindowTest, AboutLinksAndReadOnlyDocuments) {
    std::vector<QUrl> opened;
    DocumentDialog about(*programDocument(), nullptr, u"About", texts,
                         [&](const QUrl& url) { opened.push_back(url); });
    about.dialog()->show();
    auto* link = about.built().widget<HyperlinkLabel>(Id::Hyper_About);
    auto* donate = about.built().widget<QPushButton>(Id::Button_Donate);
    EXPECT_EQ(donate->text(), QStringLiteral("Donate by Liberapay"));
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QTest::mouseClick(link, Qt::LeftButton);
    QTest::mouseClick(donate, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl(QString::fromLatin1(kForumUrl)));
    EXPECT_EQ(opened[1], QUrl(QString::fromLatin1(kDonateUrl)));
    EXPECT_EQ(about.dialog()->windowTitle(), QStringLiteral("About"));
    auto* aboutText = about.built().widget<QTextBrowser>(Id::Editor_About);
    EXPECT_TRUE(aboutText->toPlainText().contains(QStringLiteral("net send")));

    DocumentDialog changelog(*programDocument(), nullptr, u"Changelog", texts);
    auto* view = changelog.built().widget<QTextBrowser>(Id::Editor_Changelog);
    const QString text = view->toPlainText();
    // Newest first: the first heading is the program's own version.
    EXPECT_TRUE(text.startsWith(QStringLiteral("Что нового в версии 1.53 (04.03.2016)")))
        << text.left(60).toStdString();
    for (QTextBrowser* v : {view, aboutText}) {
        const QString before = v->toPlainText();
        v->setFocus();
        QTest::keyClicks(v, QStringLiteral("typed"));
        QTest::keyClick(v, Qt::Key_Delete);
        EXPECT_EQ(v->toPlainText(), before);
        EXPECT_TRUE(v->isReadOnly());
    }
}

}  // namespace
}  // namespace tw::ui::test
