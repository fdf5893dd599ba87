// The program's four windows as the dialog document defines them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeWidget>

#include "layout_test_util.h"
#include "server/ui/layout/gadgets.h"

namespace tw::ui {
namespace {

using test::OpenedWindow;

TEST(MainWindow, shrinksNoFurtherThan455By215) {
    OpenedWindow w(*test::programDocument(), u"Window_Main");
    ASSERT_TRUE(w.built.isValid());
    EXPECT_EQ(w->minimumSize(), QSize(455, 215));
    w.showAt(QSize(100, 50));
    EXPECT_EQ(w->size(), QSize(455, 215));
    // at the smallest size the splitter area still gets its requested 440 x 130
    QWidget* splitter = w.built.widget(Id::Splitter_Vertc);
    EXPECT_GE(splitter->width(), 440);
    EXPECT_GE(splitter->height(), 130);
}

TEST(MainWindow, controlsRowKeepsItsHeightWhileOnlyTheSplitterAreaGrows) {
    OpenedWindow w(*test::programDocument(), u"Window_Main");
    auto* send = w.built.widget<QPushButton>(Id::Button_Send);
    QWidget* row = send->parentWidget();
    QWidget* splitter = w.built.widget(Id::Splitter_Vertc);

    w.showAt(QSize(455, 215));
    const int smallSplitter = splitter->height();
    const int rowTop = row->y();
    w.showAt(QSize(1200, 900));

    EXPECT_EQ(row->height(), 40);
    EXPECT_EQ(send->height(), 40);
    EXPECT_EQ(splitter->height(), smallSplitter + 900 - 215);
    EXPECT_EQ(row->y(), rowTop + 900 - 215);
    // items of the row keep their widths, 10 pixels apart
    auto* save = w.built.widget(Id::Button_Save);
    auto* scan = w.built.widget(Id::Button_Scan);
    auto* config = w.built.widget(Id::Button_Config);
    EXPECT_EQ(send->width(), 133);
    EXPECT_EQ(save->width(), 133);
    EXPECT_EQ(scan->width(), 40);
    EXPECT_EQ(config->width(), 40);
    EXPECT_EQ(save->x(), send->x() + 133 + 10);
    EXPECT_EQ(config->x(), scan->x() + 40 + 10);
    // the row does not stretch: a window twice as wide moves nothing
    EXPECT_LT(config->x() + 40, 600);
    // spin above combo, together filling the row's height
    QWidget* spin = w.built.widget(Id::Spin_Timer);
    QWidget* combo = w.built.widget(Id::Combo_Timer);
    EXPECT_EQ(spin->height() + combo->height(), 40);
    EXPECT_EQ(combo->y(), spin->y() + spin->height());
}

struct SplitterCase {
    Id id;
    int firstMin, secondMin;
};

void PrintTo(const SplitterCase& c, std::ostream* os) { *os << idName(c.id); }

class MainWindowSplitter : public ::testing::TestWithParam<SplitterCase> {};

// Drags the divider by `delta` pixels along the splitter, as the operator would.
void dragDivider(QSplitter* splitter, int delta) {
    QSplitterHandle* handle = splitter->handle(1);
    const QPoint from = handle->rect().center();
    const QPoint to =
        from + (splitter->orientation() == Qt::Horizontal ? QPoint(delta, 0) : QPoint(0, delta));
    QTest::mousePress(handle, Qt::LeftButton, {}, from);
    QTest::mouseMove(handle, to);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, to);
}

TEST_P(MainWindowSplitter, keepsEachPartAtLeastAtItsMinimum) {
    const SplitterCase& c = GetParam();
    OpenedWindow w(*test::programDocument(), u"Window_Main");
    w.showAt(QSize(800, 600));
    auto* splitter = w.built.widget<QSplitter>(c.id);
    ASSERT_NE(splitter, nullptr);
    EXPECT_FALSE(splitter->childrenCollapsible());

    dragDivider(splitter, -2000);
    EXPECT_EQ(splitter->sizes().at(0), c.firstMin);
    dragDivider(splitter, +2000);
    EXPECT_EQ(splitter->sizes().at(1), c.secondMin);

    splitter->setSizes({0, 5000});
    EXPECT_EQ(splitter->sizes().at(0), c.firstMin);
    // the window at its smallest leaves both parts their minimum too
    w.showAt(QSize(455, 215));
    EXPECT_GE(splitter->sizes().at(0), c.firstMin);
    EXPECT_GE(splitter->sizes().at(1), c.secondMin);
}

INSTANTIATE_TEST_SUITE_P(Both, MainWindowSplitter,
                         ::testing::Values(SplitterCase{Id::Splitter_Vertc, 50, 50},
                                           SplitterCase{Id::Splitter_Horiz, 30, 30}),
                         [](const auto& p) { return std::string(idName(p.param.id)); });

TEST(MainWindow, splittersArrangeEditorTemplatesAndTree) {
    OpenedWindow w(*test::programDocument(), u"Window_Main");
    auto* vertc = w.built.widget<QSplitter>(Id::Splitter_Vertc);
    auto* horiz = w.built.widget<QSplitter>(Id::Splitter_Horiz);
    EXPECT_EQ(vertc->orientation(), Qt::Horizontal);  // parts side by side
    EXPECT_EQ(horiz->orientation(), Qt::Vertical);    // parts one above the other
    EXPECT_EQ(vertc->widget(0), horiz);
    EXPECT_EQ(vertc->widget(1), w.built.widget(Id::Tree_List));
    EXPECT_EQ(horiz->widget(0), w.built.widget(Id::Editor_Msg));
    EXPECT_EQ(horiz->widget(1), w.built.widget(Id::List_Templs));
    EXPECT_TRUE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(w->isVisible());  // opened hidden
}

TEST(MainWindow, buildsIntoAMainWindowAsItsCentralWidget) {
    QMainWindow host;
    const BuiltWindow built = buildWindow(*test::programDocument(), u"Window_Main", &host);
    ASSERT_TRUE(built.isValid());
    EXPECT_EQ(built.window(), &host);
    ASSERT_NE(host.centralWidget(), nullptr);
    EXPECT_TRUE(host.centralWidget()->isAncestorOf(built.widget(Id::Tree_List)));
    EXPECT_GE(host.centralWidget()->minimumWidth(), 455);
    // a host that already holds a layout is refused
    EXPECT_FALSE(buildWindow(*test::programDocument(), u"Window_Main", &host).isValid());
}

class Dialog : public ::testing::TestWithParam<const char*> {};

TEST_P(Dialog, cannotBeResized) {
    QWidget parent;
    OpenedWindow w(*test::programDocument(), QString::fromLatin1(GetParam()), &parent);
    ASSERT_TRUE(w.built.isValid());
    EXPECT_TRUE(qobject_cast<QDialog*>(w.built.window()));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    w.built.window()->show();
    QApplication::processEvents();
    const QSize size = w->size();
    w.showAt(size + QSize(200, 150));
    EXPECT_EQ(w->size(), size);
    w.showAt(QSize(10, 10));
    EXPECT_EQ(w->size(), size);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
}

INSTANTIATE_TEST_SUITE_P(Three, Dialog, ::testing::Values("Settings", "Changelog", "About"));

TEST(Dialogs, requestedSizesAndCentring) {
    QWidget parent;
    const auto doc = test::programDocument();
    OpenedWindow changelog(*doc, u"Changelog", &parent);
    EXPECT_GE(changelog.built.widget(Id::Editor_Changelog)->width(), 740);
    EXPECT_GE(changelog.built.widget(Id::Editor_Changelog)->height(), 280);

    OpenedWindow about(*doc, u"About", &parent);
    EXPECT_GE(about.built.widget(Id::Editor_About)->width(), 250);
    EXPECT_GE(about.built.widget(Id::Editor_About)->height(), 330);

    OpenedWindow settings(*doc, u"Settings", &parent);
    settings.built.window()->show();
    QApplication::processEvents();
    QWidget* ok = settings.built.widget(Id::Button_Settings_OK);
    EXPECT_EQ(ok->width(), 80);
    const int left = ok->mapTo(settings.built.window(), QPoint()).x();
    EXPECT_LE(std::abs(left - (settings->width() - left - 80)), 1);  // centred
    EXPECT_EQ(settings.built.widget(Id::IpAddr_Settings)->width(), 100);
    EXPECT_GE(settings.built.widget(Id::Check_Settings_Broad)->width(), 190);
    // the dialog stands in the middle of the screen (its frame is not known before it is
    // shown, hence the frame's width of tolerance)
    const QPoint offset =
        settings->frameGeometry().center() - settings->screen()->availableGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 6) << offset.x() << "," << offset.y();
}

struct Gadget {
    Id id;
    const QMetaObject* type;
};

struct WindowGadgets {
    const char* name;
    Id window;
    std::vector<Gadget> gadgets;
};

void PrintTo(const WindowGadgets& c, std::ostream* os) { *os << c.name; }

class EveryGadget : public ::testing::TestWithParam<WindowGadgets> {};

TEST_P(EveryGadget, isFoundByIdentifierAndByObjectName) {
    const WindowGadgets& c = GetParam();
    QWidget parent;
    OpenedWindow w(*test::programDocument(), QString::fromLatin1(c.name),
                   c.window == Id::Window_Main ? nullptr : &parent);
    ASSERT_TRUE(w.built.isValid());
    EXPECT_EQ(w.built.id(), c.window);
    EXPECT_EQ(w.built.widget(c.window), w.built.window());
    EXPECT_EQ(w->objectName(), objectName(c.window));
    for (const Gadget& g : c.gadgets) {
        const QString name = objectName(g.id);
        QWidget* widget = w.built.widget(g.id);
        ASSERT_NE(widget, nullptr) << name.toStdString();
        EXPECT_EQ(w->findChild<QWidget*>(name), widget) << name.toStdString();
        EXPECT_TRUE(widget->metaObject()->inherits(g.type))
            << name.toStdString() << " is a " << widget->metaObject()->className();
    }
    // no gadget of another window slips in
    EXPECT_EQ(w.built.widget(c.window == Id::Window_Main ? Id::Button_Donate : Id::Button_Send),
              nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Four, EveryGadget,
    ::testing::Values(WindowGadgets{"Window_Main",
                                    Id::Window_Main,
                                    {{Id::Button_Send, &QPushButton::staticMetaObject},
                                     {Id::Button_Save, &QPushButton::staticMetaObject},
                                     {Id::Button_Scan, &QToolButton::staticMetaObject},
                                     {Id::Button_Config, &QToolButton::staticMetaObject},
                                     {Id::Combo_Timer, &QComboBox::staticMetaObject},
                                     {Id::Editor_Msg, &QPlainTextEdit::staticMetaObject},
                                     {Id::List_Templs, &QListWidget::staticMetaObject},
                                     {Id::Spin_Timer, &QSpinBox::staticMetaObject},
                                     {Id::Splitter_Horiz, &QSplitter::staticMetaObject},
                                     {Id::Splitter_Vertc, &QSplitter::staticMetaObject},
                                     {Id::Tree_List, &QTreeWidget::staticMetaObject}}},
                      WindowGadgets{"Settings",
                                    Id::Dialog_Settings,
                                    {{Id::Button_Settings_OK, &QPushButton::staticMetaObject},
                                     {Id::Check_Settings_Broad, &QCheckBox::staticMetaObject},
                                     {Id::Combo_ScanL, &QComboBox::staticMetaObject},
                                     {Id::Combo_ScanR, &QComboBox::staticMetaObject},
                                     {Id::Frame_Settings_Scanner, &QGroupBox::staticMetaObject},
                                     {Id::Frame_Settings_Common, &QGroupBox::staticMetaObject},
                                     {Id::IpAddr_Settings, &Ipv4Field::staticMetaObject},
                                     {Id::Text_ScanName, &QLabel::staticMetaObject},
                                     {Id::Text_ScanAddr, &QLabel::staticMetaObject},
                                     {Id::Text_ScanForm, &QLabel::staticMetaObject}}},
                      WindowGadgets{"Changelog",
                                    Id::Dialog_Changelog,
                                    {{Id::Editor_Changelog, &QTextBrowser::staticMetaObject}}},
                      WindowGadgets{"About",
                                    Id::Dialog_About,
                                    {{Id::Button_Donate, &QPushButton::staticMetaObject},
                                     {Id::Editor_About, &QTextBrowser::staticMetaObject},
                                     {Id::Frame_About, &QGroupBox::staticMetaObject},
                                     {Id::Hyper_About, &HyperlinkLabel::staticMetaObject}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Windows, fixedCaptionsAndGadgetSettings) {
    QWidget parent;
    const auto doc = test::programDocument();
    OpenedWindow main(*doc, u"Window_Main");
    auto* spin = main.built.widget<QSpinBox>(Id::Spin_Timer);
    EXPECT_EQ(spin->minimum(), 0);
    EXPECT_EQ(spin->maximum(), 100);
    EXPECT_FALSE(main.built.widget<QPlainTextEdit>(Id::Editor_Msg)->isReadOnly());

    OpenedWindow settings(*doc, u"Settings", &parent);
    EXPECT_EQ(settings.built.widget<QPushButton>(Id::Button_Settings_OK)->text(),
              QStringLiteral("OK"));

    OpenedWindow about(*doc, u"About", &parent);
    auto* link = about.built.widget<HyperlinkLabel>(Id::Hyper_About);
    EXPECT_EQ(link->text(), QStringLiteral("Обсуждение на форуме"));
    EXPECT_TRUE(link->font().underline());
    EXPECT_TRUE(about.built.widget<QTextBrowser>(Id::Editor_About)->isReadOnly());
    EXPECT_TRUE(about.built.widget<QGroupBox>(Id::Frame_About)->title().isEmpty());
}

TEST(Windows, deletingAWindowFreesItsGadgets) {
    QWidget parent;
    const BuiltWindow built = openWindow(*test::programDocument(), u"About", &parent);
    QPointer<QWidget> editor = built.widget(Id::Editor_About);
    ASSERT_TRUE(editor);
    delete built.window();
    EXPECT_FALSE(editor);
    EXPECT_FALSE(built.isValid());
    EXPECT_EQ(built.widget(Id::Editor_About), nullptr);
    // every opening builds new widgets
    OpenedWindow a(*test::programDocument(), u"About", &parent);
    OpenedWindow b(*test::programDocument(), u"About", &parent);
    EXPECT_NE(a.built.widget(Id::Editor_About), b.built.widget(Id::Editor_About));
}

}  // namespace
}  // namespace tw::ui
