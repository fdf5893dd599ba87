// The client tree gadget in the program's main window: items paired with the records, state
// images, and what the operator's clicks and keys do to the check marks.
#include "server/ui/client_tree_view.h"

#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "server/data/clients.h"
#include "server/ui/layout/ui_document.h"
#include "server/ui/layout/window_builder.h"
#include "server/ui/resources.h"
#include "tests/support/support.h"

namespace tw::ui {
namespace {

using tw::server::ClientTree;
using tw::server::TreeMode;

// 0 All clients { 1 Office { 2 A 3 B 4 C }  5 Floor { 6 Lab { 7 10.0.1.1  8 10.0.1.2 } }  9 E }
constexpr const char* kClientsXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<root config="3.1">
    <group name="Office">
        <key name="A">10.0.0.1</key>
        <key name="B">10.0.0.2</key>
        <key name="C">10.0.0.3</key>
    </group>
    <group name="Floor">
        <list name="Lab">10.0.1.1-10.0.1.2</list>
    </group>
    <key name="E">pc-e</key>
</root>
)";
enum { kRoot, kOffice, kA, kB, kC, kFloor, kLab, kL1, kL2, kE, kCount };

QImage rgb(const QPixmap& p) { return p.toImage().convertToFormat(QImage::Format_RGB32); }

// The main window with the tree loaded from kClientsXml the way start-up loads it.
class TreeWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const auto parsed = UiDocument::parse(embeddedDialogDocument());
        ASSERT_TRUE(parsed.ok());
        built = openWindow(*parsed.document, u"Window_Main");
        window.reset(built.window());
        tree = built.widget<QTreeWidget>(Id::Tree_List);
        ASSERT_NE(tree, nullptr);
        view = std::make_unique<ClientTreeView>(tree, clients, lock);

        tw::test::writeFile(dir / "clients.xml", kClientsXml);
        tw::server::InterfaceTexts texts;
        texts.setLanguage(QStringLiteral("EN"), 47128, nullptr);
        const auto result = tw::server::LoadClientsDatabase(dir / "clients.xml", clients.records(),
                                                            view.get(), texts);
        ASSERT_EQ(result.status, tw::server::LoadResult::Status::Loaded);
        clients.rebuildIndex();
        ASSERT_EQ(view->itemCount(), kCount);

        window->resize(800, 700);
        window->show();
        QCoreApplication::processEvents();
        tree->expandAll();
    }

    QTreeWidgetItem* item(int i) const { return view->item(i); }
    Qt::CheckState shown(int i) const { return item(i)->checkState(0); }
    tw::server::CheckMark mark(int i) const {
        return clients.records()[static_cast<std::size_t>(i)].checkMark;
    }

    QPoint boxOf(int i) const {
        tree->scrollToItem(item(i));
        QStyleOptionViewItem opt;
        opt.initFrom(tree);
        opt.widget = tree;
        opt.rect = tree->visualItemRect(item(i));
        opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                       QStyleOptionViewItem::HasDecoration;
        opt.decorationSize = tree->iconSize();
        opt.text = item(i)->text(0);
        opt.checkState = item(i)->checkState(0);
        return tree->style()
            ->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, tree)
            .center();
    }
    QPoint captionOf(int i) const {
        tree->scrollToItem(item(i));
        const QRect r = tree->visualItemRect(item(i));
        return QPoint(r.right() - 4, r.center().y());
    }
    void clickBox(int i) { QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, boxOf(i)); }

    // What the sender and the report listener do under the lock; the window redraws later.
    QVector<int> report(int i, std::uint8_t state) {
        std::lock_guard<std::mutex> guard(lock);
        const auto s = static_cast<tw::server::DeliveryState>(state);
        clients.records()[static_cast<std::size_t>(i)].deliveryState = s;
        const auto changed = clients.updateUpwards(i, s);
        return QVector<int>(changed.begin(), changed.end());
    }

    tw::test::TempDir dir;
    BuiltWindow built;
    std::unique_ptr<QWidget> window;
    QTreeWidget* tree = nullptr;
    ClientTree clients;
    std::mutex lock;
    std::unique_ptr<ClientTreeView> view;
};

TEST_F(TreeWindow, loadPairsItemsWithRecordsByLevelUnderTheRootCaption) {
    ASSERT_EQ(tree->topLevelItemCount(), 1);  // handed to the widget once the load is over
    EXPECT_EQ(tree->topLevelItem(0), item(kRoot));
    EXPECT_EQ(item(kRoot)->text(0), QStringLiteral("All clients"));
    EXPECT_EQ(item(kL2)->text(0), QStringLiteral("10.0.1.2"));
    for (int i = 1; i < kCount; ++i) {
        EXPECT_EQ(item(i)->parent(),
                  item(clients.records()[static_cast<std::size_t>(i)].parentIndex))
            << i;
        EXPECT_EQ(shown(i), Qt::Unchecked);
        EXPECT_FALSE(item(i)->flags() & Qt::ItemIsAutoTristate);
    }
    EXPECT_EQ(view->item(kCount), nullptr);
    EXPECT_EQ(view->item(-1), nullptr);
}

TEST_F(TreeWindow, rootBoxChecksEveryItemAndUnchecksThemAgain) {
    bool checkedAtSignal = false;
    QObject::connect(view.get(), &ClientTreeView::leftClicked,
                     [&] { checkedAtSignal = view->anyChecked(); });
    clickBox(kRoot);
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(shown(i), Qt::Checked) << i;
        EXPECT_EQ(mark(i), tw::server::CheckMark::Checked) << i;
    }
    EXPECT_TRUE(checkedAtSignal);  // the click was acted on before the window heard of it
    clickBox(kRoot);
    for (int i = 0; i < kCount; ++i) EXPECT_EQ(shown(i), Qt::Unchecked) << i;
    EXPECT_FALSE(view->anyChecked());
}

TEST_F(TreeWindow, oneOfThreeClientsShowsFolderAndAncestorsPartlyAllThreeShowItChecked) {
    clickBox(kA);
    EXPECT_EQ(shown(kA), Qt::Checked);
    EXPECT_EQ(shown(kOffice), Qt::PartiallyChecked);
    EXPECT_EQ(shown(kRoot), Qt::PartiallyChecked);
    EXPECT_EQ(shown(kFloor), Qt::Unchecked);
    EXPECT_TRUE(view->anyChecked());
    clickBox(kB);
    clickBox(kC);
    EXPECT_EQ(shown(kOffice), Qt::Checked);
    EXPECT_EQ(shown(kRoot), Qt::PartiallyChecked);
    // a partly checked folder's box checks everything below it
    clickBox(kB);
    ASSERT_EQ(shown(kOffice), Qt::PartiallyChecked);
    clickBox(kOffice);
    for (int i : {kOffice, kA, kB, kC}) EXPECT_EQ(shown(i), Qt::Checked) << i;
}

TEST_F(TreeWindow, captionClickChangesNothing) {
    tree->setCurrentItem(item(kE));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, captionOf(kB));
    EXPECT_EQ(tree->currentItem(), item(kB));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(shown(i), Qt::Unchecked) << i;
        EXPECT_EQ(mark(i), tw::server::CheckMark::Unchecked) << i;
    }
}

TEST_F(TreeWindow, boxClickOnAnItemThatIsNotCurrentActsOnThatItem) {
    tree->setCurrentItem(item(kE));
    clickBox(kLab);
    EXPECT_EQ(tree->currentItem(), item(kLab));
    EXPECT_EQ(shown(kE), Qt::Unchecked);
    EXPECT_EQ(mark(kE), tw::server::CheckMark::Unchecked);
    for (int i : {kLab, kL1, kL2, kFloor}) EXPECT_EQ(shown(i), Qt::Checked) << i;
    EXPECT_EQ(shown(kRoot), Qt::PartiallyChecked);
}

TEST_F(TreeWindow, spaceTogglesTheCurrentItem) {
    tree->setFocus();
    tree->setCurrentItem(item(kFloor));
    QTest::keyClick(tree, Qt::Key_Space);
    for (int i : {kFloor, kLab, kL1, kL2}) EXPECT_EQ(mark(i), tw::server::CheckMark::Checked) << i;
    EXPECT_EQ(shown(kRoot), Qt::PartiallyChecked);
    QTest::keyClick(tree, Qt::Key_Space);
    for (int i = 0; i < kCount; ++i) EXPECT_EQ(mark(i), tw::server::CheckMark::Unchecked) << i;
}

TEST_F(TreeWindow, contextMenuEventBecomesRightClickAtTheCursor) {
    QPoint at;
    QObject::connect(view.get(), &ClientTreeView::rightClicked, [&](const QPoint& p) { at = p; });
    QContextMenuEvent event(QContextMenuEvent::Mouse, captionOf(kA), QPoint(321, 123));
    QCoreApplication::sendEvent(tree->viewport(), &event);
    EXPECT_EQ(at, QPoint(321, 123));
}

TEST_F(TreeWindow, folderImagesFollowTheirChildrenAfterARefresh) {
    const auto images = DrawStateImages();
    const auto showsImage = [&](int i, int image) {
        return rgb(item(i)->icon(0).pixmap(QSize(30, 30))) == rgb(images.at(image));
    };
    EXPECT_TRUE(showsImage(kOffice, 0));

    view->refreshItems(report(kA, 1) + report(kB, 1) + report(kC, 2));
    EXPECT_TRUE(showsImage(kA, 1));
    EXPECT_TRUE(showsImage(kC, 2));
    EXPECT_TRUE(showsImage(kOffice, 3));

    view->refreshItems(report(kL1, 9) + report(kL2, 4));
    EXPECT_TRUE(showsImage(kL2, 4));
    EXPECT_TRUE(showsImage(kLab, 13));
    EXPECT_TRUE(showsImage(kFloor, 13));
    // the root holds 1, 2, 4 and 9 (15): no image of its own, the check's states win
    EXPECT_TRUE(showsImage(kRoot, 13));

    {
        std::lock_guard<std::mutex> guard(lock);
        clients.resetDeliveryStates();
    }
    view->refreshAll();
    for (int i = 0; i < kCount; ++i) EXPECT_TRUE(showsImage(i, 0)) << i;
}

TEST_F(TreeWindow, rebuildFromRecordsShowsTheRecordsAndExpandsOnRequest) {
    clickBox(kB);
    report(kB, 2);
    view->rebuildFromRecords(QStringLiteral("Все клиенты"));
    ASSERT_EQ(view->itemCount(), kCount);
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(item(kRoot)->text(0), QStringLiteral("Все клиенты"));
    EXPECT_EQ(item(kB)->parent(), item(kOffice));
    EXPECT_EQ(shown(kB), Qt::Checked);
    EXPECT_EQ(shown(kOffice), Qt::PartiallyChecked);
    EXPECT_TRUE(view->anyChecked());
    EXPECT_EQ(rgb(item(kOffice)->icon(0).pixmap(QSize(30, 30))), rgb(DrawStateImages().at(2)));
    EXPECT_FALSE(item(kOffice)->isExpanded());
    view->expandItem(kRoot);
    view->expandItem(kOffice);
    EXPECT_TRUE(item(kRoot)->isExpanded());
    EXPECT_TRUE(item(kOffice)->isExpanded());
    // and the rebuilt items take clicks like the loaded ones
    clickBox(kA);
    clickBox(kC);
    EXPECT_EQ(shown(kOffice), Qt::Checked);
}

// Probe points of every image: its drawn rectangles (later over earlier), and the window
// colour around them.
TEST(StateImages, pixelsFollowTheRectangleTable) {
    struct Probe {
        int image, x, y;
        QRgb colour;  // 0: the window background
    };
    const Probe probes[] = {
        {0, 6, 2, qRgb(140, 140, 140)},
        {0, 10, 6, qRgb(210, 210, 210)},
        {0, 25, 21, qRgb(210, 210, 210)},
        {0, 26, 21, qRgb(140, 140, 140)},
        {0, 29, 25, qRgb(140, 140, 140)},
        {0, 5, 2, 0},
        {0, 29, 26, 0},
        {0, 6, 1, 0},
        {1, 6, 2, qRgb(200, 140, 0)},
        {1, 15, 15, qRgb(255, 255, 0)},
        {2, 6, 2, qRgb(50, 150, 50)},
        {2, 15, 15, qRgb(0, 255, 0)},
        {4, 29, 25, qRgb(150, 50, 50)},
        {4, 15, 15, qRgb(255, 0, 0)},
        {9, 9, 6, qRgb(50, 50, 150)},
        {9, 10, 6, qRgb(120, 120, 255)},
        {3, 6, 2, qRgb(200, 140, 0)},
        {3, 10, 5, qRgb(255, 255, 0)},
        {3, 16, 22, qRgb(255, 255, 0)},
        {3, 16, 23, qRgb(200, 140, 0)},
        {3, 17, 10, qRgb(150, 150, 50)},
        {3, 18, 5, qRgb(0, 255, 0)},
        {3, 25, 22, qRgb(0, 255, 0)},
        {3, 26, 22, qRgb(50, 150, 50)},
        {6, 12, 12, qRgb(255, 0, 0)},
        {6, 17, 25, qRgb(140, 140, 140)},
        {6, 20, 3, qRgb(50, 150, 50)},
        {6, 20, 10, qRgb(0, 255, 0)},
        {5, 7, 3, qRgb(150, 50, 50)},
        {5, 17, 2, qRgb(140, 140, 140)},
        {5, 29, 25, qRgb(200, 140, 0)},
        {5, 20, 10, qRgb(255, 255, 0)},
        {13, 12, 12, qRgb(255, 0, 0)},
        {13, 17, 12, qRgb(100, 100, 100)},
        {13, 28, 3, qRgb(50, 50, 150)},
        {13, 20, 12, qRgb(120, 120, 255)},
        {7, 6, 2, qRgb(150, 50, 50)},
        {7, 6, 6, qRgb(255, 0, 0)},
        {7, 13, 21, qRgb(255, 0, 0)},
        {7, 14, 2, qRgb(200, 140, 0)},
        {7, 14, 6, qRgb(255, 255, 0)},
        {7, 22, 25, qRgb(50, 150, 50)},
        {7, 29, 21, qRgb(0, 255, 0)},
        {7, 5, 10, 0},
        {7, 29, 26, 0},
    };
    const auto images = DrawStateImages();
    std::vector<int> keys;
    for (const auto& [state, pixmap] : images) {
        keys.push_back(state);
        EXPECT_EQ(pixmap.size(), QSize(30, 30)) << state;
    }
    EXPECT_EQ(keys, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 9, 13}));
    const QRgb background = QGuiApplication::palette().color(QPalette::Window).rgb();
    for (const Probe& p : probes) {
        const QImage image = rgb(images.at(p.image));
        EXPECT_EQ(image.pixel(p.x, p.y), p.colour ? p.colour : background)
            << "image " << p.image << " at " << p.x << ',' << p.y;
    }
}

}  // namespace
}  // namespace tw::ui
