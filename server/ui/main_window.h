#pragma once
// The operator's main window: the message editor with its templates, the client tree, the
// timer and the buttons, the status bar and the popup menus. Sending, listening and scanning
// belong to the engine: the window only asks for them by its signals, and the engine's news
// reaches it through the public slots (queued, on the window's thread).
#include <QDateTime>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <memory>

#include "server/data/config.h"
#include "server/data/history.h"
#include "server/data/templates.h"
#include "server/data/texts.h"
#include "server/engine/server_settings.h"
#include "server/ui/layout/ui_document.h"
#include "server/ui/layout/window_builder.h"

class QAction;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace tw::ui {

class TextLimit;

inline constexpr char16_t kWindowTitle[] = u"Tellwick Server v1.53";
inline constexpr int kStatusTextWidth = 360;
inline constexpr int kStatusIndicatorWidth = 75;

// "Confirmed 41 · Delivered 3 · Not delivered 2 of 46 · waiting until 10:42:05" in the
// interface language; the waiting part only when `waitEnds` is valid.
QString outcomeText(const tw::server::MailingCounts& counts, const QDateTime& waitEnds, bool ended,
                    const tw::server::InterfaceTexts& texts);

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Builds "Window_Main" from `doc` and fills in everything that needs no engine: captions,
    // status bar, editor limit, menus, templates from `templatesFile`, timer fields from
    // `settings`, which the timer fields change. The window is left hidden. `notifier` receives
    // the boxes of the templates file.
    MainWindow(std::shared_ptr<const UiDocument> doc, tw::server::ServerSettings& settings,
               const tw::server::InterfaceTexts& texts, std::filesystem::path templatesFile,
               tw::server::Notifier* notifier, QWidget* parent = nullptr);
    ~MainWindow() override;

    bool isValid() const { return built_.isValid(); }
    const BuiltWindow& built() const { return built_; }
    QPlainTextEdit* editor() const;
    QListWidget* templatesList() const;
    QTreeWidget* tree() const;
    QPushButton* sendButton() const;
    QMenu* editorMenu() const { return editorMenu_; }
    QMenu* templatesMenu() const { return templatesMenu_; }
    QMenu* scannerMenu() const { return scannerMenu_; }
    QMenu* configMenu() const { return configMenu_; }
    QString statusText() const { return statusFields_[0]->text(); }
    QString indicatorText() const { return statusFields_[1]->text(); }
    QString outcomeFieldText() const { return statusFields_[2]->text(); }
    QLineEdit* filterField() const { return filter_; }
    QAction* followUpAction(bool undelivered) const {
        return undelivered ? followUndelivered_ : followUnconfirmed_;
    }

    const tw::server::TemplatesList& templates() const { return templates_; }
    const tw::server::InterfaceTexts& texts() const { return texts_; }
    int selectedTemplate() const { return selectedTemplate_; }

    // Where the broadcast indicator's text comes from (the engine); read at once and after
    // the Settings window was confirmed.
    void setBroadcastIndicatorSource(std::function<QString()> source);
    void refreshBroadcastIndicator();

    // Where the popup menus open; by default at the mouse cursor. Tests record them instead
    // of opening a menu's own loop.
    using MenuPopup = std::function<void(QMenu*, const QPoint& globalPos)>;
    void setMenuPopup(MenuPopup popup) { popup_ = std::move(popup); }

    // Moves and sizes the window as configured (an edge of -65535 stays where the window
    // was opened), shows it, then sets both splitters, which need the laid-out window.
    void showAtConfiguredGeometry();
    // Position, inner size and splitter positions as they are now.
    tw::server::WindowGeometry liveGeometry() const;

public slots:
    // "hh:mm:ss - text" in the first field of the status bar.
    void showStatus(const QString& text);
    void setSendCaption(const QString& caption);
    void showScannerMenu(const QPoint& globalPos);
    void saveTemplate();
    void removeSelectedTemplate();
    // The last mailing's outcome in the status bar's third field.
    void showOutcome(const tw::server::MailingCounts& counts, const QDateTime& waitEnds,
                     bool ended);
    void setFollowUpAvailable(bool available);
    void openFilter();   // the tree's filter field, with the keyboard in it
    void closeFilter();  // empties and hides it: every client shows again

signals:
    void sendRequested(const QString& editorText);  // the send button, or Ctrl+Enter
    void newClientsScanRequested();
    void checkRequested();
    void closeRequested();  // the close box: the owner runs the close sequence
    void beepRequested();   // the editor is full
    void followUpRequested(bool undeliveredOnly);  // tick the last mailing's clients again
    void filterChanged(const QString& text);
    void historyRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void buildStatusBar();
    void setupEditor();
    void setupTemplates();
    void setupControls();
    void setupFilter();
    void setAccessibleNames();
    void onTemplateClicked(int row);
    void popup(QMenu* menu, const QPoint& globalPos);
    bool overWidget(QWidget* w, const QPoint& globalPos) const;

    std::shared_ptr<const UiDocument> doc_;
    tw::server::ServerSettings& settings_;
    const tw::server::InterfaceTexts& texts_;
    std::filesystem::path templatesFile_;
    tw::server::Notifier* notifier_;
    BuiltWindow built_;
    tw::server::TemplatesList templates_;
    int selectedTemplate_ = -1;
    QLabel* statusFields_[3] = {};
    QAction* followUnconfirmed_ = nullptr;
    QAction* followUndelivered_ = nullptr;
    QLineEdit* filter_ = nullptr;
    int sendWidth_ = -1;  // the send button's width from the layout
    QMenu* editorMenu_ = nullptr;
    QMenu* templatesMenu_ = nullptr;
    QMenu* scannerMenu_ = nullptr;
    QMenu* configMenu_ = nullptr;
    TextLimit* limit_ = nullptr;
    std::function<QString()> indicator_;
    MenuPopup popup_;
    bool rightPressInEditor_ = false;
    bool rightPressInTemplates_ = false;
};

}  // namespace tw::ui
