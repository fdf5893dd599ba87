#pragma once
// The three secondary windows opened from the configuration menu: Settings, Changelog and
// About. Each is built from the dialog document at every opening, is modal over the main
// window and is freed when it closes.
#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>

#include "server/data/config.h"
#include "server/data/texts.h"
#include "server/engine/server_settings.h"
#include "server/ui/layout/window_builder.h"

class QDialog;

namespace tw::ui {

// Where the About window's two links lead.
inline constexpr char kForumUrl[] = "https://tellwick.example/forum";
inline constexpr char kDonateUrl[] = "https://tellwick.example/donate";

// The Settings window over `settings`: OK (or Enter) stores the broadcast mode and address and
// the scanner's saving formats; Escape and the close box store nothing.
class SettingsDialog {
public:
    SettingsDialog(const UiDocument& doc, QWidget* parent, tw::server::ServerSettings& settings,
                   const tw::server::InterfaceTexts& texts);
    ~SettingsDialog();

    QDialog* dialog() const;
    const BuiltWindow& built() const { return built_; }
    // Runs the dialog's own loop; true when it was confirmed.
    bool exec();

private:
    void store();

    BuiltWindow built_;
    tw::server::ServerSettings& settings_;
};

// Opens a link in the system's browser; replaced in tests so that nothing is opened.
using UrlOpener = std::function<void(const QUrl&)>;

// The read-only document windows. `name` is "Changelog" or "About".
class DocumentDialog {
public:
    DocumentDialog(const UiDocument& doc, QWidget* parent, QStringView name,
                   const tw::server::InterfaceTexts& texts, UrlOpener opener = {});
    ~DocumentDialog();

    QDialog* dialog() const;
    const BuiltWindow& built() const { return built_; }
    void exec();

private:
    BuiltWindow built_;
};

// The embedded rich-text documents (HTML, UTF-8).
QString changelogDocument();
QString aboutDocument();

// Each returns when its window has been closed. OpenSettingsDialog is true when the values
// were confirmed (the caller then refreshes the broadcast indicator).
bool OpenSettingsDialog(const UiDocument& doc, QWidget* parent,
                        tw::server::ServerSettings& settings,
                        const tw::server::InterfaceTexts& texts);
void OpenChangelogDialog(const UiDocument& doc, QWidget* parent,
                         const tw::server::InterfaceTexts& texts);
void OpenAboutDialog(const UiDocument& doc, QWidget* parent,
                     const tw::server::InterfaceTexts& texts, UrlOpener opener = {});

}  // namespace tw::ui
