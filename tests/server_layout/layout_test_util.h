#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <memory>

#include "server/ui/layout/ui_document.h"
#include "server/ui/layout/window_builder.h"
#include "server/ui/resources.h"

namespace tw::ui::test {

// The program's own dialog document, read once.
inline std::shared_ptr<const UiDocument> programDocument() {
    static const auto result = UiDocument::parse(embeddedDialogDocument());
    EXPECT_TRUE(result.ok()) << result.error.debugLine().toStdString();
    return result.document;
}

inline std::shared_ptr<const UiDocument> parseOrFail(const char* xml) {
    const auto result = UiDocument::parse(QByteArrayView(xml));
    EXPECT_TRUE(result.ok()) << result.error.debugLine().toStdString();
    return result.document;
}

// An opened top-level window that is deleted with the test.
struct OpenedWindow {
    BuiltWindow built;
    std::unique_ptr<QWidget> owner;

    OpenedWindow(const UiDocument& doc, QStringView name, QWidget* parent = nullptr)
        : built(openWindow(doc, name, parent)), owner(built.window()) {}
    QWidget* operator->() const { return built.window(); }
    void showAt(QSize size) const {
        built.window()->show();
        built.window()->resize(size);
        QApplication::processEvents();
    }
};

}  // namespace tw::ui::test
