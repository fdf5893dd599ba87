#include <QClipboard>
#include <QComboBox>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitter>
#include <QTest>

#include "ui_fixture.h"

namespace tw::ui::test {
namespace {

using tw::test::readFile;
using tw::test::writeFile;

const char kTwoTemplates[] =
    "\xEF\xBB\xBF[Lunch]\r\n1 = Lunch at 12|Bring cups\r\n\r\n[Fire drill]\r\n1 = Drill at 3\r\n";

class TemplatesTest : public MainWindowTest {
protected:
    void SetUp() override {
        writeFile(dir / "templates.ini", kTwoTemplates);
        makeWindow();
        list = window->templatesList();
        editor = window->editor();
        ASSERT_EQ(list->count(), 2);
    }
    QPoint centreOf(int row) const { return list->visualItemRect(list->item(row)).center(); }
    void leftClick(int row) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(row));
    }
    QStringList itemTexts() const {
        QStringList out;
        for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
        return out;
    }

    QListWidget* list = nullptr;
    QPlainTextEdit* editor = nullptr;
};

TEST_F(TemplatesTest, ClickLoadsTemplateAndSecondClickDeselectsIt) {
    leftClick(0);
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("Lunch at 12\nBring cups"));
    EXPECT_EQ(window->selectedTemplate(), 0);

    editor->setPlainText(QStringLiteral("edited"));
    leftClick(0);
    EXPECT_EQ(window->selectedTemplate(), -1);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("edited"));  // left as it was

    leftClick(0);  // a third click selects again
    EXPECT_EQ(window->selectedTemplate(), 0);
    leftClick(1);
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("Drill at 3"));
}

TEST_F(TemplatesTest, SaveButtonNamesTheTemplate) {
    auto* save = window->built().widget<QPushButton>(Id::Button_Save);
    ASSERT_TRUE(save);
    EXPECT_EQ(save->text(), QStringLiteral("Save template"));

    // Selected template: overwritten under its own name, no new item.
    leftClick(1);
    editor->setPlainText(QStringLiteral("Drill moved\nto 4"));
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(itemTexts(), (QStringList{QStringLiteral("Lunch"), QStringLiteral("Fire drill")}));
    EXPECT_NE(readFile(dir / "templates.ini").find("[Fire drill]\r\n1 = Drill moved|to 4\r\n"),
              std::string::npos);

    // Nothing selected, 41 characters: the first 40 and "...".
    leftClick(1);  // deselects
    const QString long41 = QString(40, u'w') + u'z';
    editor->setPlainText(long41);
    QTest::mouseClick(save, Qt::LeftButton);
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(2)->text(), QString(40, u'w') + QStringLiteral("..."));

    // A header in quotes names a new one.
    list->clearSelection();
    editor->setPlainText(QStringLiteral("\"Coffee\" Machine fixed"));
    QTest::mouseClick(save, Qt::LeftButton);
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(list->item(3)->text(), QStringLiteral("Coffee"));
    EXPECT_EQ(window->templates()[3].text, QStringLiteral("Machine fixed"));

    // Empty text, and a quote without its pair: nothing is written.
    const std::string before = readFile(dir / "templates.ini");
    for (const char* text : {"   ", "\"Unclosed header"}) {
        list->clearSelection();
        editor->setPlainText(QString::fromUtf8(text));
        QTest::mouseClick(save, Qt::LeftButton);
    }
    EXPECT_EQ(list->count(), 4);
    EXPECT_EQ(readFile(dir / "templates.ini"), before);
    EXPECT_TRUE(notifier.boxes.empty());
}

TEST_F(TemplatesTest, RightClickSelectsWithoutLoadingAndMenuRemoves) {
    editor->setPlainText(QStringLiteral("draft"));
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, centreOf(1));
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_TRUE(list->item(1)->isSelected());
    QTest::mouseRelease(list->viewport(), Qt::RightButton, {}, centreOf(1));
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("draft"));
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].menu, window->templatesMenu());

    window->templatesMenu()->actions().at(0)->trigger();  // Remove
    EXPECT_EQ(itemTexts(), QStringList{QStringLiteral("Lunch")});
    EXPECT_EQ(readFile(dir / "templates.ini").find("Fire drill"), std::string::npos);
    EXPECT_EQ(window->selectedTemplate(), -1);

    // Released outside the list: no menu.
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, centreOf(0));
    QTest::mouseRelease(list->viewport(), Qt::RightButton, {}, QPoint(-40, -40));
    EXPECT_EQ(popups.size(), 1u);
}

TEST_F(MainWindowTest, EditorMenuOpensOnlyWhenReleasedOverTheEditor) {
    makeWindow();
    QWidget* viewport = window->editor()->viewport();
    const QPoint inside = viewport->rect().center();
    QTest::mousePress(viewport, Qt::RightButton, {}, inside);
    QTest::mouseRelease(viewport, Qt::RightButton, {}, QPoint(-30, inside.y()));
    EXPECT_TRUE(popups.empty());

    QTest::mousePress(viewport, Qt::RightButton, {}, inside);
    QTest::mouseRelease(viewport, Qt::RightButton, {}, inside);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].menu, window->editorMenu());
    EXPECT_EQ(popups[0].at, viewport->mapToGlobal(inside));
    QStringList captions;
    for (QAction* a : window->editorMenu()->actions()) captions << a->text();
    EXPECT_EQ(captions, (QStringList{QStringLiteral("Cut"), QStringLiteral("Copy"),
                                     QStringLiteral("Paste")}));
}

TEST_F(MainWindowTest, EditorHoldsAtMost500Characters) {
    makeWindow();
    QPlainTextEdit* editor = window->editor();
    QSignalSpy beeps(window.get(), &MainWindow::beepRequested);

    // Typing up to the limit is silent; the key after it is refused with a beep.
    editor->setPlainText(QString(498, u'a'));
    editor->moveCursor(QTextCursor::End);
    EXPECT_EQ(beeps.count(), 0);
    QTest::keyClicks(editor, QStringLiteral("bcd"));
    EXPECT_EQ(editor->toPlainText(), QString(498, u'a') + QStringLiteral("bc"));
    EXPECT_EQ(beeps.count(), 1);

    // A paste in the middle keeps what fits and leaves the rest of the text alone.
    editor->setPlainText(QString(490, u'a') + QStringLiteral("END"));
    QTextCursor c = editor->textCursor();
    c.setPosition(10);
    editor->setTextCursor(c);
    QApplication::clipboard()->setText(QString(20, u'P'));
    editor->paste();
    EXPECT_EQ(editor->toPlainText(),
              QString(10, u'a') + QString(7, u'P') + QString(480, u'a') + QStringLiteral("END"));
    EXPECT_EQ(beeps.count(), 2);

    // A long text set at once (a template) is cut to the limit; line breaks count one each.
    editor->setPlainText(QString(300, u'x') + u'\n' + QString(300, u'y'));
    EXPECT_EQ(editor->toPlainText().size(), 500);
    EXPECT_TRUE(editor->toPlainText().startsWith(QString(300, u'x') + u'\n'));
}

TEST_F(MainWindowTest, StartUpTextsAndStatusBar) {
    config.Timer = 17;
    config.Measure = tw::server::TimeUnit::Hours;
    makeWindow();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tellwick Server v1.53"));
    EXPECT_TRUE(window->statusText().contains(
        QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d - Ready$"))))
        << window->statusText().toStdString();
    EXPECT_EQ(window->indicatorText(), QStringLiteral("UNICAST"));
    EXPECT_EQ(window->sendButton()->text(), QStringLiteral("Send message"));
    EXPECT_EQ(window->sendButton()->toolTip(), QStringLiteral("Keyboard shortcut: Ctrl+Enter"));
    auto* spin = window->built().widget<QSpinBox>(Id::Spin_Timer);
    auto* combo = window->built().widget<QComboBox>(Id::Combo_Timer);
    EXPECT_EQ(spin->value(), 17);
    EXPECT_EQ(combo->currentText(), QStringLiteral("hrs"));

    // The timer fields change the settings record at once.
    spin->setValue(42);
    combo->setCurrentIndex(0);
    EXPECT_EQ(settings.snapshot().Timer, 42);
    EXPECT_EQ(settings.snapshot().Measure, tw::server::TimeUnit::Seconds);

    window->setSendCaption(QStringLiteral("Stop sending"));
    EXPECT_EQ(window->sendButton()->text(), QStringLiteral("Stop sending"));
}

TEST_F(MainWindowTest, CtrlEnterClicksSend) {
    makeWindow();
    QSignalSpy sends(window.get(), &MainWindow::sendRequested);
    window->editor()->setFocus();
    window->editor()->setPlainText(QStringLiteral("Line one\nline two"));
    QTest::keyClick(window->editor(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(sends.wait(2000) || sends.count() == 1);
    EXPECT_EQ(sends.at(0).at(0).toString(), QStringLiteral("Line one\nline two"));
    EXPECT_EQ(window->editor()->toPlainText(), QStringLiteral("Line one\nline two"));  // no break
    EXPECT_TRUE(window->sendButton()->hasFocus());
}

TEST_F(MainWindowTest, GeometryRoundTrip) {
    config.WindowWidth = 640;
    config.WindowHeight = 420;
    config.SplitterHoriz = 150;
    config.SplitterVertc = 330;
    makeWindow();
    const auto g = window->liveGeometry();
    EXPECT_EQ(g.width, 640);
    EXPECT_EQ(g.height, 420);
    EXPECT_EQ(g.splitterHoriz, 150);
    EXPECT_EQ(g.splitterVertc, 330);
}

}  // namespace
}  // namespace tw::ui::test
