#include "server/ui/client_tree_view.h"

#include <QAbstractItemModel>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <algorithm>
#include <array>
#include <vector>

namespace tw::ui {

using tw::server::CheckMark;
using tw::server::ClientRecord;
using tw::server::DeliveryState;

namespace {

struct StateRect {
    int left, top, width, height;
    int red, green, blue;
};

struct StateImage {
    int state;
    std::vector<StateRect> rects;  // drawn in this order, later ones over earlier ones
};

const std::vector<StateImage>& stateImageTable() {
    static const std::vector<StateImage> table = {
        {0, {{6, 2, 24, 24, 140, 140, 140}, {10, 6, 16, 16, 210, 210, 210}}},
        {1, {{6, 2, 24, 24, 200, 140, 0}, {10, 6, 16, 16, 255, 255, 0}}},
        {2, {{6, 2, 24, 24, 50, 150, 50}, {10, 6, 16, 16, 0, 255, 0}}},
        {4, {{6, 2, 24, 24, 150, 50, 50}, {10, 6, 16, 16, 255, 0, 0}}},
        {9, {{6, 2, 24, 24, 50, 50, 150}, {10, 6, 16, 16, 120, 120, 255}}},
        {3,
         {{6, 2, 11, 24, 200, 140, 0},
          {10, 5, 7, 18, 255, 255, 0},
          {18, 2, 12, 24, 50, 150, 50},
          {18, 5, 8, 18, 0, 255, 0},
          {17, 2, 1, 24, 150, 150, 50}}},
        {6,
         {{6, 2, 11, 24, 150, 50, 50},
          {10, 5, 7, 18, 255, 0, 0},
          {18, 2, 12, 24, 50, 150, 50},
          {18, 5, 8, 18, 0, 255, 0},
          {17, 2, 1, 24, 140, 140, 140}}},
        {5,
         {{6, 2, 11, 24, 150, 50, 50},
          {10, 5, 7, 18, 255, 0, 0},
          {18, 2, 12, 24, 200, 140, 0},
          {18, 5, 8, 18, 255, 255, 0},
          {17, 2, 1, 24, 140, 140, 140}}},
        {13,
         {{6, 2, 11, 24, 150, 50, 50},
          {10, 5, 7, 18, 255, 0, 0},
          {18, 2, 12, 24, 50, 50, 150},
          {18, 5, 8, 18, 120, 120, 255},
          {17, 2, 1, 24, 100, 100, 100}}},
        {7,
         {{6, 2, 8, 24, 150, 50, 50},
          {6, 6, 8, 16, 255, 0, 0},
          {14, 2, 8, 24, 200, 140, 0},
          {14, 6, 8, 16, 255, 255, 0},
          {22, 2, 8, 24, 50, 150, 50},
          {22, 6, 8, 16, 0, 255, 0}}},
    };
    return table;
}

constexpr int kStateImageSize = 30;
// Rows stay compact; the images are scaled down smoothly from their drawn size.
constexpr int kItemImageSize = 24;

// A combination without an image of its own (a confirmed client beside one that answered a
// check probe, say) cannot arise within one mailing or one check; the check's states win
// then, since they are the newer news.
int imageForState(DeliveryState shown) {
    const std::uint8_t state = tw::server::bitsOf(shown);
    if (state & 8) return (state & 4) ? 13 : 9;
    return state & 7;
}

Qt::CheckState shownState(CheckMark mark) {
    if (mark == CheckMark::Partly) return Qt::PartiallyChecked;
    return mark == CheckMark::Checked ? Qt::Checked : Qt::Unchecked;
}

CheckMark markOf(Qt::CheckState state) {
    switch (state) {
        case Qt::Checked:
            return CheckMark::Checked;
        case Qt::PartiallyChecked:
            return CheckMark::Partly;
        default:
            return CheckMark::Unchecked;
    }
}

// The item knows its record by position, which is all the pairing needs.
class ClientItem : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;
    explicit ClientItem(int index) : QTreeWidgetItem(kType), index(index) {}
    const int index;
};

}  // namespace

std::map<int, QPixmap> DrawStateImages() {
    const QColor background = QGuiApplication::palette().color(QPalette::Window);
    std::map<int, QPixmap> images;
    for (const StateImage& image : stateImageTable()) {
        QPixmap pixmap(kStateImageSize, kStateImageSize);
        pixmap.fill(background);
        QPainter painter(&pixmap);
        for (const StateRect& r : image.rects)
            painter.fillRect(QRect(r.left, r.top, r.width, r.height),
                             QColor(r.red, r.green, r.blue));
        painter.end();
        images.emplace(image.state, pixmap);
    }
    return images;
}

struct ClientTreeView::Impl {
    ClientTreeView* q;
    QTreeWidget* tree;
    tw::server::ClientTree& clients;
    std::mutex& lock;

    std::array<QIcon, 16> icons;           // by delivery state
    std::vector<ClientItem*> items;        // record index -> item
    std::vector<ClientItem*> openFolders;  // during a load: last item of each level
    QList<QTreeWidgetItem*> pendingTop;    // built, not yet handed to the widget
    bool flushQueued = false;
    bool anyChecked = false;
    const tw::server::InterfaceTexts* texts = nullptr;

    struct Shown {
        int index;
        CheckMark mark;
        DeliveryState state;
        bool folder = false;
        QString address, reportTime;
    };
    static Shown shownOf(int index, const ClientRecord& r) {
        return {index, r.checkMark, r.deliveryState, r.folder != 0, r.address, r.reportTime};
    }
    void describe(ClientItem* item, const Shown& row) const;

    ClientItem* newItem(const QString& caption, int level, CheckMark mark, DeliveryState state);
    void flush();
    void show(const std::vector<Shown>& rows, bool withImages);
    void onItemChanged(QTreeWidgetItem* item, int column);
};

// Items of a load are built outside the widget and handed over in one piece: inserting 65,000
// items one by one into a live model costs a model signal (and a view update) each.
ClientItem* ClientTreeView::Impl::newItem(const QString& caption, int level, CheckMark mark,
                                          DeliveryState state) {
    auto* item = new ClientItem(static_cast<int>(items.size()));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setText(0, caption);
    item->setIcon(0, icons[static_cast<std::size_t>(imageForState(state))]);
    item->setCheckState(0, shownState(mark));
    items.push_back(item);

    // Level gives the nesting: the parent is the last item one level up. A level that skips
    // ahead hangs the item under the deepest open folder.
    const auto depth =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(level, 0)), openFolders.size());
    openFolders.resize(depth);
    if (depth == 0)
        pendingTop.append(item);
    else
        openFolders.back()->addChild(item);
    openFolders.push_back(item);

    if (!flushQueued) {
        flushQueued = true;
        QMetaObject::invokeMethod(
            q, [this] { flush(); }, Qt::QueuedConnection);
    }
    return item;
}

void ClientTreeView::Impl::flush() {
    flushQueued = false;
    if (pendingTop.isEmpty()) return;
    tree->addTopLevelItems(pendingTop);
    pendingTop.clear();
}

// What a screen reader says of an item, and its tooltip: the caption, the check box and the
// delivery state in words ("PC-A, checked, confirmed at 10:41:07"), so that a blind operator
// hears who confirmed; the colours alone say nothing to them.
void ClientTreeView::Impl::describe(ClientItem* item, const Shown& row) const {
    if (!texts) return;
    using tw::server::Text;
    const auto& t = *texts;
    const QString sep = QStringLiteral(", ");
    QString text = item->text(0) + sep +
                   t[row.mark == CheckMark::Checked  ? Text::AccChecked
                     : row.mark == CheckMark::Partly ? Text::AccPartlyChecked
                                                     : Text::AccUnchecked];
    const auto at = [&](Text word) {
        QString w = t[word];
        if (!row.reportTime.isEmpty())
            w += QLatin1Char(' ') + t[Text::AccAt] + QLatin1Char(' ') + row.reportTime;
        return w;
    };
    QStringList states;
    if (row.folder) {
        // A folder shows what its clients are, every kind that is there.
        const std::uint8_t bits = tw::server::bitsOf(row.state);
        if (bits & 2) states << t[Text::AccConfirmed];
        if (bits & 1) states << t[Text::AccDelivered];
        if (bits & 4) states << t[Text::AccNotDelivered];
        if (bits & 8) states << t[Text::AccAnswered];
        if (states.isEmpty()) states << t[Text::AccNoNews];
    } else {
        switch (row.state) {
            case DeliveryState::Delivered:
                states << at(Text::AccDelivered);
                break;
            case DeliveryState::Confirmed:
                states << at(Text::AccConfirmed);
                break;
            case DeliveryState::NotDelivered:
                states << t[Text::AccNotDelivered];
                break;
            case DeliveryState::Active:
                states << at(Text::AccAnswered);
                break;
            default:
                states << t[Text::AccNoNews];
                break;
        }
    }
    text += sep + states.join(sep);
    item->setData(0, Qt::AccessibleTextRole, text);
    if (!row.folder) {
        QString tip = t[Text::ScanAddress] + QStringLiteral(": ") + row.address;
        if (!row.reportTime.isEmpty())
            tip += QLatin1Char('\n') + t[Text::HistoryReportTime] + QStringLiteral(": ") +
                   row.reportTime;
        item->setToolTip(0, tip);
    }
}

void ClientTreeView::Impl::show(const std::vector<Shown>& rows, bool withImages) {
    flush();
    // Our own redraws are not the operator's clicks: keep them from the itemChanged handler
    // and from per-item view updates, then repaint once.
    QAbstractItemModel* model = tree->model();
    const bool wasBlocked = model->blockSignals(true);
    for (const Shown& row : rows) {
        if (row.index < 0 || static_cast<std::size_t>(row.index) >= items.size()) continue;
        ClientItem* item = items[static_cast<std::size_t>(row.index)];
        const Qt::CheckState check = shownState(row.mark);
        if (item->checkState(0) != check) item->setCheckState(0, check);
        if (withImages) item->setIcon(0, icons[static_cast<std::size_t>(imageForState(row.state))]);
        describe(item, row);
    }
    model->blockSignals(wasBlocked);
    tree->viewport()->update();
}

// The operator changed a box, by a click on it or by Space on the current item: the widget
// has already toggled the item that was hit (not necessarily the current one), so its state
// is the one after the click. A click on the caption toggles nothing and never comes here.
void ClientTreeView::Impl::onItemChanged(QTreeWidgetItem* changedItem, int column) {
    if (column != 0 || !changedItem || changedItem->type() != ClientItem::kType) return;
    const int index = static_cast<ClientItem*>(changedItem)->index;
    const CheckMark value = markOf(changedItem->checkState(0));

    std::vector<Shown> rows;
    {
        std::lock_guard<std::mutex> guard(lock);
        tw::server::ClientsList& records = clients.records();
        if (static_cast<std::size_t>(index) >= records.size()) return;
        ClientRecord& record = records[static_cast<std::size_t>(index)];
        if (record.checkMark == value) return;
        record.checkMark = value;
        std::vector<int> changed;
        if (record.folder) changed = clients.checkSubtree(index, value);
        const std::vector<int> upwards = clients.updateUpwards(index, value);
        changed.insert(changed.end(), upwards.begin(), upwards.end());
        rows.reserve(changed.size());
        for (int i : changed)
            rows.push_back(Impl::shownOf(i, records[static_cast<std::size_t>(i)]));
        anyChecked = clients.anyChecked();
    }
    // The widget leaves the current item alone when only the box was hit; the item acted on
    // becomes current, as a click on it would make it.
    if (tree->currentItem() != changedItem) tree->setCurrentItem(changedItem);
    show(rows, false);
}

namespace {

// Runs the widget's own handling of a left-button release first, so that leftClicked comes
// after the click has been acted on; the context-menu event becomes rightClicked.
class TreeEventFilter : public QObject {
public:
    TreeEventFilter(ClientTreeView* view, QObject* parent) : QObject(parent), view_(view) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (inside_) return false;
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            inside_ = true;
            QCoreApplication::sendEvent(watched, event);
            inside_ = false;
            emit view_->leftClicked();
            return true;
        }
        if (event->type() == QEvent::ContextMenu) {
            emit view_->rightClicked(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
        return false;
    }

private:
    ClientTreeView* view_;
    bool inside_ = false;
};

}  // namespace

ClientTreeView::ClientTreeView(QTreeWidget* tree, tw::server::ClientTree& clients, std::mutex& lock,
                               QObject* parent)
    : QObject(parent), d_(new Impl{this, tree, clients, lock, {}, {}, {}, {}, false, false}) {
    const std::map<int, QPixmap> images = DrawStateImages();
    for (std::size_t state = 0; state < d_->icons.size(); ++state)
        d_->icons[state] = QIcon(images.at(imageForState(static_cast<DeliveryState>(state))));

    tree->setUniformRowHeights(true);
    tree->setIconSize(QSize(kItemImageSize, kItemImageSize));
    connect(tree, &QTreeWidget::itemChanged, this,
            [this](QTreeWidgetItem* item, int column) { d_->onItemChanged(item, column); });
    tree->viewport()->installEventFilter(new TreeEventFilter(this, this));
}

ClientTreeView::~ClientTreeView() { qDeleteAll(d_->pendingTop); }

void ClientTreeView::ClearTree() {
    qDeleteAll(d_->pendingTop);
    d_->pendingTop.clear();
    d_->openFolders.clear();
    d_->items.clear();
    d_->tree->clear();
    d_->anyChecked = false;
}

void ClientTreeView::AddTreeItem(const QString& caption, int level) {
    d_->newItem(caption, level, CheckMark::Unchecked, DeliveryState::None);
}

void ClientTreeView::rebuildFromRecords(const QString& rootCaption) {
    struct Row {
        QString caption;
        int level;
        CheckMark mark;
        DeliveryState state;
    };
    std::vector<Row> rows;
    bool anyChecked = false;
    {
        std::lock_guard<std::mutex> guard(d_->lock);
        const tw::server::ClientsList& records = d_->clients.records();
        rows.reserve(records.size());
        for (const ClientRecord& r : records)
            rows.push_back(
                {r.parentIndex < 0 ? rootCaption : r.name, r.level, r.checkMark, r.deliveryState});
        anyChecked = d_->clients.anyChecked();
    }
    ClearTree();
    for (const Row& row : rows) d_->newItem(row.caption, row.level, row.mark, row.state);
    d_->flush();
    d_->anyChecked = anyChecked;
}

void ClientTreeView::refreshItems(const QVector<int>& indices) {
    std::vector<Impl::Shown> rows;
    rows.reserve(static_cast<std::size_t>(indices.size()));
    {
        std::lock_guard<std::mutex> guard(d_->lock);
        const tw::server::ClientsList& records = d_->clients.records();
        for (int i : indices) {
            if (i < 0 || static_cast<std::size_t>(i) >= records.size()) continue;
            const ClientRecord& r = records[static_cast<std::size_t>(i)];
            rows.push_back(Impl::shownOf(i, r));
        }
    }
    d_->show(rows, true);
}

void ClientTreeView::refreshAll() {
    QVector<int> all(static_cast<qsizetype>(d_->items.size()));
    for (qsizetype i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
    refreshItems(all);
}

void ClientTreeView::expandItem(int index) {
    if (QTreeWidgetItem* it = item(index)) it->setExpanded(true);
}

bool ClientTreeView::anyChecked() const { return d_->anyChecked; }

void ClientTreeView::setTexts(const tw::server::InterfaceTexts* texts) {
    d_->texts = texts;
    refreshAll();
}

void ClientTreeView::checkOnly(const std::vector<int>& positions) {
    std::vector<Impl::Shown> rows;
    {
        std::lock_guard<std::mutex> guard(d_->lock);
        tw::server::ClientsList& records = d_->clients.records();
        if (records.empty()) return;
        records[0].checkMark = CheckMark::Unchecked;
        d_->clients.checkSubtree(0, CheckMark::Unchecked);
        d_->clients.updateUpwards(0, CheckMark::Unchecked);
        for (const int i : positions) {
            if (i <= 0 || static_cast<std::size_t>(i) >= records.size()) continue;
            ClientRecord& r = records[static_cast<std::size_t>(i)];
            if (r.folder) continue;
            r.checkMark = CheckMark::Checked;
            d_->clients.updateUpwards(i, CheckMark::Checked);
        }
        rows.reserve(records.size());
        for (std::size_t i = 0; i < records.size(); ++i)
            rows.push_back(Impl::shownOf(static_cast<int>(i), records[i]));
        d_->anyChecked = d_->clients.anyChecked();
    }
    d_->show(rows, false);
}

int ClientTreeView::setFilter(const QString& text) {
    d_->flush();
    const QString needle = text.trimmed();
    std::vector<char> self, shown;
    int matches = 0;
    {
        std::lock_guard<std::mutex> guard(d_->lock);
        const tw::server::ClientsList& records = d_->clients.records();
        const std::size_t n = std::min(records.size(), d_->items.size());
        self.assign(n, 0);
        shown.assign(n, needle.isEmpty() ? 1 : 0);
        if (!needle.isEmpty()) {
            std::vector<char> inside(n, 0);  // below a matching folder
            for (std::size_t i = 0; i < n; ++i) {
                const ClientRecord& r = records[i];
                const QString caption = d_->items[i]->text(0);
                self[i] = caption.contains(needle, Qt::CaseInsensitive) ||
                          r.address.contains(needle, Qt::CaseInsensitive);
                if (self[i] && !r.folder) ++matches;
                const int p = r.parentIndex;
                if (p >= 0 && static_cast<std::size_t>(p) < i) inside[i] = inside[p] || self[p];
                shown[i] = self[i] || inside[i];
            }
            // The list is in tree order: a child comes after its folder, so walking it
            // backwards hands every match up to the folders that lead to it.
            for (std::size_t i = n; i-- > 0;) {
                const int p = records[i].parentIndex;
                if (shown[i] && p >= 0 && static_cast<std::size_t>(p) < i) shown[p] = 1;
            }
        }
    }
    d_->tree->setUpdatesEnabled(false);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        QTreeWidgetItem* item = d_->items[i];
        item->setHidden(!shown[i]);
        if (!needle.isEmpty() && shown[i] && item->childCount() > 0) item->setExpanded(true);
    }
    d_->tree->setUpdatesEnabled(true);
    return matches;
}

QTreeWidgetItem* ClientTreeView::item(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= d_->items.size()) return nullptr;
    d_->flush();  // callers may use the item in the widget at once
    return d_->items[static_cast<std::size_t>(index)];
}

int ClientTreeView::itemCount() const { return static_cast<int>(d_->items.size()); }

}  // namespace tw::ui
