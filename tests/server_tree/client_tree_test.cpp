// The client tree's logic over the records, without a window.
#include "server/data/client_tree.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace tw::server {
namespace {

// Appends a record below `parent` (-1 for the root) and returns its index.
int add(ClientTree& tree, int parent, bool folder, const char* name = "item") {
    ClientsList& list = tree.records();
    ClientRecord r;
    r.name = QString::fromUtf8(name);
    r.folder = folder ? 1 : 0;
    r.parentIndex = parent;
    r.level = parent < 0 ? 0 : list[static_cast<std::size_t>(parent)].level + 1;
    list.push_back(r);
    return static_cast<int>(list.size()) - 1;
}

// root(0) { Office(1) { a(2) b(3) c(4) }  Floor(5) { Lab(6) { d(7) } }  e(8) }
struct SmallTree {
    ClientTree tree;
    int root, office, a, b, c, floor, lab, d, e;
    SmallTree() {
        root = add(tree, -1, true, "MSG_Broadcast");
        office = add(tree, root, true, "Office");
        a = add(tree, office, false);
        b = add(tree, office, false);
        c = add(tree, office, false);
        floor = add(tree, root, true, "Floor");
        lab = add(tree, floor, true, "Lab");
        d = add(tree, lab, false);
        e = add(tree, root, false);
        tree.rebuildIndex();
    }
    CheckMark mark(int i) const { return tree.records()[static_cast<std::size_t>(i)].checkMark; }
    std::uint8_t state(int i) const {
        return bitsOf(tree.records()[static_cast<std::size_t>(i)].deliveryState);
    }
    // What a click on an item's box does with the state the box shows afterwards.
    void click(int i, CheckMark value) {
        tree.records()[static_cast<std::size_t>(i)].checkMark = value;
        if (tree.records()[static_cast<std::size_t>(i)].folder) tree.checkSubtree(i, value);
        tree.updateUpwards(i, value);
    }
    // What the sender and the report listener do: store the state, then update upwards.
    void report(int i, std::uint8_t s) {
        tree.records()[static_cast<std::size_t>(i)].deliveryState = static_cast<DeliveryState>(s);
        tree.updateUpwards(i, static_cast<DeliveryState>(s));
    }
};

TEST(ClientTreeCheck, rootChecksAndUnchecksEveryItem) {
    SmallTree t;
    t.click(t.root, CheckMark::Checked);
    for (const ClientRecord& r : t.tree.records()) EXPECT_EQ(r.checkMark, CheckMark::Checked);
    EXPECT_TRUE(t.tree.anyChecked());
    t.click(t.root, CheckMark::Unchecked);
    for (const ClientRecord& r : t.tree.records()) EXPECT_EQ(r.checkMark, CheckMark::Unchecked);
    EXPECT_FALSE(t.tree.anyChecked());
}

TEST(ClientTreeCheck, oneOfThreeMakesFolderAndAncestorsPartlyAllThreeMakeItChecked) {
    SmallTree t;
    t.click(t.a, CheckMark::Checked);
    EXPECT_EQ(t.mark(t.office), CheckMark::Partly);
    EXPECT_EQ(t.mark(t.root), CheckMark::Partly);
    EXPECT_EQ(t.mark(t.floor), CheckMark::Unchecked);
    t.click(t.b, CheckMark::Checked);
    t.click(t.c, CheckMark::Checked);
    EXPECT_EQ(t.mark(t.office), CheckMark::Checked);
    EXPECT_EQ(t.mark(t.root), CheckMark::Partly);
    // and back: one unchecked again takes the checked bit's count down, not just adds
    t.click(t.b, CheckMark::Unchecked);
    EXPECT_EQ(t.mark(t.office), CheckMark::Partly);
    t.click(t.a, CheckMark::Unchecked);
    t.click(t.c, CheckMark::Unchecked);
    EXPECT_EQ(t.mark(t.office), CheckMark::Unchecked);
    EXPECT_EQ(t.mark(t.root), CheckMark::Unchecked);
}

TEST(ClientTreeCheck, partlyMarkPassedDownMakesEveryItemBelowChecked) {
    SmallTree t;
    const std::vector<int> set = t.tree.checkSubtree(t.floor, CheckMark::Partly);
    EXPECT_EQ(set, (std::vector<int>{t.lab, t.d}));
    EXPECT_EQ(t.mark(t.lab), CheckMark::Checked);
    EXPECT_EQ(t.mark(t.d), CheckMark::Checked);
    EXPECT_TRUE(t.tree.anyChecked());
}

TEST(ClientTreeCheck, updateReturnsTheItemAndItsAncestors) {
    SmallTree t;
    t.tree.records()[7].checkMark = CheckMark::Checked;
    EXPECT_EQ(t.tree.updateUpwards(t.d, CheckMark::Checked),
              (std::vector<int>{t.d, t.lab, t.floor, t.root}));
    EXPECT_TRUE(t.tree.updateUpwards(99, CheckMark::Checked).empty());
    EXPECT_TRUE(t.tree.updateUpwards(-1, CheckMark::Checked).empty());
}

TEST(ClientTreeCheck, partlyCheckedFolderAloneDoesNotCountAsChecked) {
    SmallTree t;
    t.tree.updateUpwards(t.lab, CheckMark::Partly);
    EXPECT_EQ(t.mark(t.floor), CheckMark::Partly);
    EXPECT_FALSE(t.tree.anyChecked());
}

// Folder images come from the OR of their children's states: the cases of one mailing and
// of one check.
TEST(ClientTreeIcons, folderShowsTheCombinationOfItsChildren) {
    struct Case {
        std::uint8_t a, b, c, folder;
    };
    const Case cases[] = {
        {1, 1, 2, 3},   // two delivered, one confirmed
        {4, 4, 4, 4},   // all unreachable after the end of mailing
        {9, 0, 0, 9},   // one answered the check so far
        {9, 4, 4, 13},  // the others silent when the check ends
        {9, 9, 9, 9},   // all answered
        {2, 4, 4, 6},  {1, 4, 4, 5}, {1, 2, 4, 7}, {1, 1, 1, 1}, {2, 2, 2, 2}, {0, 0, 0, 0},
    };
    for (const Case& k : cases) {
        SmallTree t;
        t.report(t.a, k.a);
        t.report(t.b, k.b);
        t.report(t.c, k.c);
        EXPECT_EQ(t.state(t.office), k.folder) << int(k.a) << ',' << int(k.b) << ',' << int(k.c);
        EXPECT_EQ(t.state(t.root), k.folder);
    }
}

TEST(ClientTreeIcons, laterReportReplacesTheStateAndTheFolderDropsTheOldBit) {
    SmallTree t;
    t.report(t.a, 1);
    t.report(t.b, 2);
    t.report(t.d, 4);
    EXPECT_EQ(t.state(t.office), 3);
    EXPECT_EQ(t.state(t.root), 7);
    t.report(t.a, 2);  // the confirmation after the delivery
    EXPECT_EQ(t.state(t.office), 2);
    EXPECT_EQ(t.state(t.root), 6);
    t.report(t.d, 1);  // a late delivery replaces "not delivered"
    EXPECT_EQ(t.state(t.lab), 1);
    EXPECT_EQ(t.state(t.root), 3);
}

TEST(ClientTreeIcons, resetClearsEveryStateAndGuidAndLaterUpdatesStartFromThere) {
    SmallTree t;
    t.tree.records()[2].setMessageGuid(QStringLiteral("{guid}"));
    t.report(t.a, 4);
    t.report(t.d, 9);
    t.tree.resetDeliveryStates();
    for (const ClientRecord& r : t.tree.records()) {
        EXPECT_EQ(r.deliveryState, DeliveryState::None);
        EXPECT_TRUE(r.messageGuid.isEmpty());
    }
    t.report(t.b, 1);
    EXPECT_EQ(t.state(t.office), 1);
    EXPECT_EQ(t.state(t.root), 1);
}

TEST(ClientTreeIndex, listReplacedWithoutRebuildIsReindexedBeforeUse) {
    SmallTree t;
    ClientTree& tree = t.tree;
    ClientsList bigger;
    {
        SmallTree other;
        const int g = add(other.tree, other.root, true, "More");
        add(other.tree, g, false);
        bigger = other.tree.records();
    }
    tree.records() = bigger;  // no rebuildIndex()
    const int last = static_cast<int>(bigger.size()) - 1;
    tree.records()[static_cast<std::size_t>(last)].deliveryState = DeliveryState::Confirmed;
    EXPECT_EQ(tree.updateUpwards(last, DeliveryState::Confirmed),
              (std::vector<int>{last, last - 1, 0}));
    EXPECT_EQ(tree.records()[0].deliveryState, DeliveryState::Confirmed);
}

TEST(ClientTreeIndex, parentThatDoesNotComeBeforeItsChildIsTreatedAsNone) {
    ClientTree tree;
    add(tree, -1, true);
    add(tree, 0, false);
    tree.records()[1].parentIndex = 1;  // itself
    tree.records()[0].parentIndex = 1;  // a cycle through the root
    tree.rebuildIndex();
    EXPECT_EQ(tree.updateUpwards(1, DeliveryState::NotDelivered), (std::vector<int>{1}));
    EXPECT_TRUE(tree.children(0).empty());
}

// The counts behind the upward update against the plain rule: every folder is the OR of its
// direct children, recomputed from the records after each step.
TEST(ClientTreeIndex, randomClicksAndReportsAgreeWithRecomputingFromChildren) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 20; ++round) {
        ClientTree tree;
        add(tree, -1, true);
        std::vector<int> folders{0};
        for (int i = 0; i < 60; ++i) {
            // tree order: a new item goes below the last item or one of its ancestors
            int parent = static_cast<int>(tree.records().size()) - 1;
            while (!tree.records()[static_cast<std::size_t>(parent)].folder || rng() % 3 == 0) {
                if (parent == 0) break;
                parent = tree.records()[static_cast<std::size_t>(parent)].parentIndex;
            }
            const bool folder = rng() % 4 == 0;
            const int idx = add(tree, parent, folder);
            if (folder) folders.push_back(idx);
        }
        tree.rebuildIndex();
        ClientsList& list = tree.records();
        const int n = static_cast<int>(list.size());
        const DeliveryState states[] = {DeliveryState::None, DeliveryState::Delivered,
                                        DeliveryState::Confirmed, DeliveryState::NotDelivered,
                                        DeliveryState::Active};

        for (int step = 0; step < 300; ++step) {
            const int i = static_cast<int>(rng() % static_cast<unsigned>(n));
            const unsigned op = rng() % 10;
            if (op < 5 && !list[static_cast<std::size_t>(i)].folder) {  // reports are for clients
                const DeliveryState s = states[rng() % 5];
                list[static_cast<std::size_t>(i)].deliveryState = s;
                tree.updateUpwards(i, s);
            } else if (op < 9) {
                const CheckMark m = (rng() % 2) ? CheckMark::Checked : CheckMark::Unchecked;
                list[static_cast<std::size_t>(i)].checkMark = m;
                if (list[static_cast<std::size_t>(i)].folder) tree.checkSubtree(i, m);
                tree.updateUpwards(i, m);
            } else {
                tree.resetDeliveryStates();
            }
            // after every step every folder with children equals the OR of them
            for (int f : folders) {
                CheckMark mark{};
                DeliveryState state{};
                bool any = false;
                for (int j = f + 1; j < n; ++j)
                    if (list[static_cast<std::size_t>(j)].parentIndex == f) {
                        any = true;
                        mark = mark | list[static_cast<std::size_t>(j)].checkMark;
                        state = state | list[static_cast<std::size_t>(j)].deliveryState;
                    }
                if (!any) continue;
                ASSERT_EQ(list[static_cast<std::size_t>(f)].deliveryState, state)
                    << "round " << round << " step " << step << " folder " << f;
                // (a click on a folder passes its mark down, so its own mark agrees too)
                ASSERT_EQ(list[static_cast<std::size_t>(f)].checkMark, mark)
                    << "round " << round << " step " << step << " folder " << f;
            }
        }
    }
}

}  // namespace
}  // namespace tw::server
