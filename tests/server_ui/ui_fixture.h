#pragma once
// A main window over a private templates file, English texts and a settings record of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "server/data/config.h"
#include "server/data/texts.h"
#include "server/engine/server_settings.h"
#include "server/ui/layout/ui_document.h"
#include "server/ui/main_window.h"
#include "server/ui/resources.h"
#include "tests/server_data/recorder.h"
#include "tests/support/support.h"

namespace tw::ui::test {

inline std::shared_ptr<const UiDocument> programDocument() {
    static const auto result = UiDocument::parse(embeddedDialogDocument());
    EXPECT_TRUE(result.ok());
    return result.document;
}

inline tw::server::InterfaceTexts englishTexts() {
    tw::server::InterfaceTexts texts;
    texts.setLanguage(QStringLiteral("EN"), 47128, nullptr);
    return texts;
}

struct Popup {
    QMenu* menu;
    QPoint at;
};

class MainWindowTest : public ::testing::Test {
protected:
    void makeWindow() {
        settings.replace(config);
        window = std::make_unique<MainWindow>(programDocument(), settings, texts,
                                              dir / "templates.ini", &notifier);
        ASSERT_TRUE(window->isValid());
        window->setMenuPopup([this](QMenu* m, const QPoint& p) { popups.push_back({m, p}); });
        window->setBroadcastIndicatorSource([this] {
            return settings.snapshot().Broadcast == 1 ? QStringLiteral("BROADCAST")
                                                      : QStringLiteral("UNICAST");
        });
        window->showAtConfiguredGeometry();
        QApplication::processEvents();
    }

    tw::test::TempDir dir;
    // The settings a test starts from; makeWindow() hands them to the owner.
    tw::server::ServerConfig config;
    tw::server::ServerSettings settings;
    tw::server::InterfaceTexts texts = englishTexts();
    tw::test::RecordingNotifier notifier;
    std::unique_ptr<MainWindow> window;
    std::vector<Popup> popups;
};

}  // namespace tw::ui::test
