#pragma once
// The client tree gadget: tree item n shows record n of the clients list. The view owns no
// data of its own; it draws the records' check marks and delivery states and turns the
// operator's clicks into check-mark changes through ClientTree.
//
// A box click (or Space on the current item) toggles between checked and unchecked; a partly
// checked box becomes checked. Partly checked is only ever shown, computed from the items
// below. Window thread only: workers change records through ClientTree under the lock and the
// window then calls refreshItems (or rebuildFromRecords after a reload; never hand this view
// to a load that runs on a worker).
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QVector>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "server/data/client_tree.h"
#include "server/data/clients.h"
#include "server/data/texts.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace tw::ui {

// The ten 30x30 state images (0, 1, 2, 4, 9, 3, 6, 5, 13, 7), drawn from the rectangle table
// on the system's window background colour.
std::map<int, QPixmap> DrawStateImages();

class ClientTreeView : public QObject, public tw::server::TreeSink {
    Q_OBJECT
public:
    // `tree` is the Tree_List gadget; `clients` and `lock` are shared with the workers.
    ClientTreeView(QTreeWidget* tree, tw::server::ClientTree& clients, std::mutex& lock,
                   QObject* parent = nullptr);
    ~ClientTreeView() override;

    // TreeSink: filled by LoadClientsDatabase on the window thread. The items are handed to the
    // widget in one piece when control returns to the event loop, or at the first item() call.
    void ClearTree() override;
    void AddTreeItem(const QString& caption, int level) override;

    // Rebuilds every item from the records (after the workers reloaded the list).
    void rebuildFromRecords(const QString& rootCaption);
    // Redraws the images and check boxes of these items from their records.
    void refreshItems(const QVector<int>& indices);
    void refreshAll();
    void expandItem(int index);  // ExpandTreeItem

    // 1 when at least one item is shown fully checked (recomputed after each left click).
    bool anyChecked() const;

    // The words for the items' accessible texts and tooltips; without them the items have
    // their captions only.
    void setTexts(const tw::server::InterfaceTexts* texts);

    // Ticks exactly these clients (list positions) and nothing else; folders follow.
    void checkOnly(const std::vector<int>& positions);

    // Shows only the clients and folders whose caption or address contains `text` (any
    // case), with the folders that lead to them and everything inside a matching folder;
    // an empty text shows everything again. Returns how many clients match.
    int setFilter(const QString& text);

    QTreeWidgetItem* item(int index) const;
    int itemCount() const;

signals:
    void leftClicked();  // after OnTreeEvent has run for the click
    void rightClicked(const QPoint& globalPos);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace tw::ui
