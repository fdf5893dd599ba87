#pragma once
// Records what the data layer asks the window to show.
#include <QString>
#include <vector>

#include "server/data/clients.h"
#include "server/data/texts.h"

namespace tw::test {

struct Box {
    QString title, text;
    tw::platform::BoxIcon icon;
};

class RecordingNotifier : public tw::server::Notifier {
public:
    void messageBox(const QString& title, const QString& text,
                    tw::platform::BoxIcon icon) override {
        boxes.push_back(Box{title, text, icon});
    }
    std::vector<Box> boxes;
};

struct TreeItem {
    QString caption;
    int level;
    bool operator==(const TreeItem&) const = default;
};

class RecordingTree : public tw::server::TreeSink {
public:
    void ClearTree() override {
        ++clears;
        items.clear();
    }
    void AddTreeItem(const QString& caption, int level) override {
        items.push_back(TreeItem{caption, level});
    }
    int clears = 0;
    std::vector<TreeItem> items;
};

}  // namespace tw::test
