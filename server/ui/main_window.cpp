#include "server/ui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTime>
#include <QToolButton>
#include <QTreeWidget>

#include "common/packets.h"
#include "common/platform/message_box.h"
#include "server/ui/dialogs.h"
#include "server/ui/resources.h"
#include "server/ui/template_naming.h"
#include "server/ui/text_limit.h"

namespace tw::ui {

using tw::server::Text;

namespace {

// The two fields of the status bar keep their widths like the parts of a classic status
// bar: a narrow window clips them instead of growing to fit them.
class StatusFields : public QWidget {
public:
    StatusFields(QLabel* text, QLabel* indicator, QLabel* outcome, QWidget* parent)
        : QWidget(parent) {
        labels_[0] = text;
        labels_[1] = indicator;
        labels_[2] = outcome;
        for (QLabel* l : labels_) {
            l->setParent(this);
            l->setTextFormat(Qt::PlainText);  // worker texts carry names from the network
            l->setFrameShape(QFrame::StyledPanel);
            l->setFrameShadow(QFrame::Sunken);
        }
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override {
        return {kStatusTextWidth + kStatusIndicatorWidth, labels_[0]->sizeHint().height()};
    }
    QSize minimumSizeHint() const override { return {0, labels_[0]->sizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent*) override {
        labels_[0]->setGeometry(0, 0, kStatusTextWidth, height());
        labels_[1]->setGeometry(kStatusTextWidth, 0, kStatusIndicatorWidth, height());
        // The mailing's outcome takes what is left, after the two classic fields.
        const int rest = kStatusTextWidth + kStatusIndicatorWidth;
        labels_[2]->setGeometry(rest, 0, std::max(0, width() - rest), height());
    }

private:
    QLabel* labels_[3] = {};
};

// The filter field floats over the top right corner of the tree, so opening it moves no
// gadget of the window.
class FloatOverTopRight : public QObject {
public:
    FloatOverTopRight(QWidget* floating, QWidget* host)
        : QObject(floating), floating_(floating), host_(host) {
        host->installEventFilter(this);
    }
    void place() {
        const int w = std::min(220, std::max(80, host_->width() - 24));
        floating_->setGeometry(host_->width() - w - 20, 2, w, floating_->sizeHint().height());
        floating_->raise();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == host_ && event->type() == QEvent::Resize) place();
        return false;
    }

private:
    QWidget* floating_;
    QWidget* host_;
};

QAction* addItem(QMenu* menu, Id id, const QString& caption, Id icon = Id::XML_UI) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(objectName(id));
    if (icon != Id::XML_UI) action->setIcon(QIcon(loadIcon(icon)));
    return action;
}

QMenu* makeMenu(QWidget* parent, Id id) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(objectName(id));
    return menu;
}

}  // namespace

MainWindow::MainWindow(std::shared_ptr<const UiDocument> doc, tw::server::ServerSettings& settings,
                       const tw::server::InterfaceTexts& texts, std::filesystem::path templatesFile,
                       tw::server::Notifier* notifier, QWidget* parent)
    : QMainWindow(parent),
      doc_(std::move(doc)),
      settings_(settings),
      texts_(texts),
      templatesFile_(std::move(templatesFile)),
      notifier_(notifier) {
    if (!doc_) return;
    built_ = buildWindow(*doc_, u"Window_Main", this);
    if (!built_.isValid()) return;
    setWindowTitle(QString::fromUtf16(kWindowTitle));
    buildStatusBar();
    setupEditor();
    buildMenus();
    setupTemplates();
    setupControls();
    setupFilter();
    setAccessibleNames();
    // The status bar shows the broadcast mode; whoever changes it, the field follows.
    connect(&settings_, &tw::server::ServerSettings::changed, this,
            &MainWindow::refreshBroadcastIndicator);
}

MainWindow::~MainWindow() = default;

QPlainTextEdit* MainWindow::editor() const { return built_.widget<QPlainTextEdit>(Id::Editor_Msg); }
QListWidget* MainWindow::templatesList() const {
    return built_.widget<QListWidget>(Id::List_Templs);
}
QTreeWidget* MainWindow::tree() const { return built_.widget<QTreeWidget>(Id::Tree_List); }
QPushButton* MainWindow::sendButton() const { return built_.widget<QPushButton>(Id::Button_Send); }

void MainWindow::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(tw::ui::objectName(Id::Status_Bar));
    statusFields_[0] = new QLabel;
    statusFields_[0]->setObjectName(QStringLiteral("Status_Text"));
    statusFields_[1] = new QLabel;
    statusFields_[1]->setObjectName(QStringLiteral("Status_Indicator"));
    statusFields_[2] = new QLabel;
    statusFields_[2]->setObjectName(QStringLiteral("Status_Outcome"));
    statusFields_[2]->setToolTip(texts_[Text::LegendText]);
    bar->addWidget(new StatusFields(statusFields_[0], statusFields_[1], statusFields_[2], bar), 1);
    showStatus(texts_[Text::Ready]);
}

void MainWindow::showStatus(const QString& text) {
    statusFields_[0]->setText(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) +
                              QStringLiteral(" - ") + text);
}

QString outcomeText(const tw::server::MailingCounts& c, const QDateTime& waitEnds, bool ended,
                    const tw::server::InterfaceTexts& texts) {
    const QString dot = QStringLiteral(" \u00b7 ");
    QString text = texts[Text::Confirmed] + QLatin1Char(' ') + QString::number(c.confirmed) + dot +
                   texts[Text::Delivered] + QLatin1Char(' ') + QString::number(c.delivered) + dot +
                   texts[Text::NotDelivered] + QLatin1Char(' ') + QString::number(c.notDelivered) +
                   QLatin1Char(' ') + texts[Text::OutcomeOf] + QLatin1Char(' ') +
                   QString::number(c.total);
    if (waitEnds.isValid())
        text += dot + texts[ended ? Text::WaitingEnded : Text::WaitingUntil] + QLatin1Char(' ') +
                waitEnds.toString(QStringLiteral("hh:mm:ss"));
    return text;
}

void MainWindow::showOutcome(const tw::server::MailingCounts& counts, const QDateTime& waitEnds,
                             bool ended) {
    const QString text = outcomeText(counts, waitEnds, ended, texts_);
    statusFields_[2]->setText(text);
    // The whole of it stays readable where the window cuts the field short.
    statusFields_[2]->setToolTip(text + QStringLiteral("\n\n") + texts_[Text::LegendText]);
}

void MainWindow::setBroadcastIndicatorSource(std::function<QString()> source) {
    indicator_ = std::move(source);
    refreshBroadcastIndicator();
}

void MainWindow::refreshBroadcastIndicator() {
    if (indicator_) statusFields_[1]->setText(indicator_());
}

void MainWindow::setSendCaption(const QString& caption) {
    QPushButton* send = sendButton();
    if (!send) return;
    send->setText(caption);
    // The button keeps its width unless a caption needs more ("Остановить рассылку").
    if (sendWidth_ < 0) sendWidth_ = send->minimumWidth();
    const int needed = send->fontMetrics().horizontalAdvance(caption) +
                       send->style()->pixelMetric(QStyle::PM_ButtonMargin) * 2 + 8;
    send->setMinimumWidth(std::max(sendWidth_, needed));
    if (send->maximumWidth() < needed) send->setMaximumWidth(std::max(sendWidth_, needed));
}

void MainWindow::setAccessibleNames() {
    const auto name = [](QWidget* w, const QString& text) {
        if (w) w->setAccessibleName(text);
    };
    name(editor(), texts_[Text::AccMessage]);
    name(templatesList(), texts_[Text::AccTemplates]);
    name(tree(), texts_[Text::AccClients]);
    name(built_.widget<QSpinBox>(Id::Spin_Timer), texts_[Text::AccWaitTime]);
    // A list that cannot be edited is named by its current entry; what it is for goes into
    // the description, which screen readers read after it.
    if (auto* unit = built_.widget<QComboBox>(Id::Combo_Timer)) {
        unit->setAccessibleName(texts_[Text::AccWaitUnit]);
        unit->setAccessibleDescription(texts_[Text::AccWaitUnit]);
    }
    name(built_.widget<QToolButton>(Id::Button_Scan), texts_[Text::ClientsScanner]);
    name(built_.widget<QToolButton>(Id::Button_Config), texts_[Text::Settings]);
    if (auto* cfg = built_.widget<QToolButton>(Id::Button_Config))
        cfg->setToolTip(texts_[Text::Settings]);
}

void MainWindow::setupEditor() {
    QPlainTextEdit* ed = editor();
    if (!ed) return;
    // A tab character is of no use in a popup message: Tab moves on, as in any form.
    ed->setTabChangesFocus(true);
    // What one message packet carries.
    limit_ = new TextLimit(ed, static_cast<int>(kMsgTextWidth));
    connect(limit_, &TextLimit::limitReached, this, &MainWindow::beepRequested);
    // The menus open when the right button is released, not when it is pressed.
    ed->setContextMenuPolicy(Qt::PreventContextMenu);
    ed->viewport()->installEventFilter(this);
}

void MainWindow::buildMenus() {
    editorMenu_ = makeMenu(this, Id::Menu_Editor);
    QPlainTextEdit* ed = editor();
    connect(addItem(editorMenu_, Id::Menu_Cut, texts_[Text::Cut], Id::Ico_Cut), &QAction::triggered,
            this, [ed] { ed->cut(); });
    connect(addItem(editorMenu_, Id::Menu_Copy, texts_[Text::Copy], Id::Ico_Copy),
            &QAction::triggered, this, [ed] { ed->copy(); });
    connect(addItem(editorMenu_, Id::Menu_Paste, texts_[Text::Paste], Id::Ico_Paste),
            &QAction::triggered, this, [ed] { ed->paste(); });

    templatesMenu_ = makeMenu(this, Id::Menu_Templ);
    connect(addItem(templatesMenu_, Id::Menu_Templ_Del, texts_[Text::Remove], Id::Ico_Remove),
            &QAction::triggered, this, &MainWindow::removeSelectedTemplate);

    scannerMenu_ = makeMenu(this, Id::Menu_Scanner);
    connect(addItem(scannerMenu_, Id::Menu_Scanner_New, texts_[Text::NewClientsScanning],
                    Id::Ico_Scanner),
            &QAction::triggered, this, &MainWindow::newClientsScanRequested);
    connect(addItem(scannerMenu_, Id::Menu_Scanner_Check, texts_[Text::CheckWorkingClients]),
            &QAction::triggered, this, &MainWindow::checkRequested);

    // Additions after the scanner's own entries; each has a shortcut of its own.
    scannerMenu_->addSeparator();
    const auto withShortcut = [this](QAction* action, QKeySequence keys) {
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);  // so the shortcut works while the menu is closed
        return action;
    };
    followUnconfirmed_ = withShortcut(scannerMenu_->addAction(texts_[Text::FollowUnconfirmed]),
                                      QKeySequence(Qt::CTRL | Qt::Key_R));
    followUnconfirmed_->setObjectName(QStringLiteral("Menu_Follow_Unconfirmed"));
    connect(followUnconfirmed_, &QAction::triggered, this,
            [this] { emit followUpRequested(false); });
    followUndelivered_ = withShortcut(scannerMenu_->addAction(texts_[Text::FollowUndelivered]),
                                      QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    followUndelivered_->setObjectName(QStringLiteral("Menu_Follow_Undelivered"));
    connect(followUndelivered_, &QAction::triggered, this,
            [this] { emit followUpRequested(true); });
    scannerMenu_->addSeparator();
    QAction* find = withShortcut(scannerMenu_->addAction(texts_[Text::FindClients]),
                                 QKeySequence(Qt::CTRL | Qt::Key_F));
    find->setObjectName(QStringLiteral("Menu_Find_Clients"));
    connect(find, &QAction::triggered, this, &MainWindow::openFilter);
    QAction* legend = scannerMenu_->addAction(texts_[Text::ColourLegend]);
    legend->setObjectName(QStringLiteral("Menu_Colour_Legend"));
    connect(legend, &QAction::triggered, this, [this] {
        tw::platform::showMessageBox(texts_[Text::ColourLegend], texts_[Text::LegendText],
                                     tw::platform::BoxIcon::Information);
    });
    setFollowUpAvailable(false);

    configMenu_ = makeMenu(this, Id::Menu_Config);
    connect(addItem(configMenu_, Id::Menu_Settings, texts_[Text::Settings]), &QAction::triggered,
            this, [this] { OpenSettingsDialog(*doc_, this, settings_, texts_); });
    connect(addItem(configMenu_, Id::Menu_Changelog, texts_[Text::Changelog]), &QAction::triggered,
            this, [this] { OpenChangelogDialog(*doc_, this, texts_); });
    connect(addItem(configMenu_, Id::Menu_About, texts_[Text::About]), &QAction::triggered, this,
            [this] { OpenAboutDialog(*doc_, this, texts_); });
    QAction* history = configMenu_->addAction(texts_[Text::History]);
    history->setObjectName(QStringLiteral("Menu_History"));
    connect(history, &QAction::triggered, this, &MainWindow::historyRequested);
}

void MainWindow::setFollowUpAvailable(bool available) {
    followUnconfirmed_->setEnabled(available);
    followUndelivered_->setEnabled(available);
}

void MainWindow::setupFilter() {
    QTreeWidget* t = tree();
    if (!t) return;
    filter_ = new QLineEdit(t);
    filter_->setObjectName(QStringLiteral("Filter_Clients"));
    filter_->setPlaceholderText(texts_[Text::FindPlaceholder]);
    filter_->setAccessibleName(texts_[Text::FindClients]);
    filter_->setClearButtonEnabled(true);
    filter_->hide();
    auto* floater = new FloatOverTopRight(filter_, t);
    floater->place();
    connect(filter_, &QLineEdit::textChanged, this, &MainWindow::filterChanged);
    filter_->installEventFilter(this);
}

void MainWindow::openFilter() {
    if (!filter_) return;
    filter_->show();
    filter_->raise();
    filter_->setFocus();
    filter_->selectAll();
}

void MainWindow::closeFilter() {
    if (!filter_) return;
    filter_->clear();  // shows every client again
    filter_->hide();
    if (QTreeWidget* t = tree()) t->setFocus();
}

void MainWindow::setupTemplates() {
    if (auto* save = built_.widget<QPushButton>(Id::Button_Save)) {
        save->setText(texts_[Text::SaveTemplateCaption]);
        save->setToolTip(texts_[Text::SaveTemplateTip]);
        connect(save, &QPushButton::clicked, this, &MainWindow::saveTemplate);
    }
    QListWidget* list = templatesList();
    if (!list) return;
    templates_ = tw::server::LoadTemplates(templatesFile_);
    for (const auto& t : templates_) list->addItem(t.name);
    selectedTemplate_ = -1;
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setContextMenuPolicy(Qt::PreventContextMenu);
    list->viewport()->installEventFilter(this);
    connect(list, &QListWidget::itemClicked, this,
            [this, list](QListWidgetItem* item) { onTemplateClicked(list->row(item)); });
}

void MainWindow::setupControls() {
    auto* spin = built_.widget<QSpinBox>(Id::Spin_Timer);
    auto* combo = built_.widget<QComboBox>(Id::Combo_Timer);
    if (combo) {
        // In this order, so that the index is the Measure value.
        combo->addItems({texts_[Text::UnitSec], texts_[Text::UnitMin], texts_[Text::UnitHrs]});
        const int unit = static_cast<int>(settings_.snapshot().Measure);
        combo->setCurrentIndex(unit < combo->count() ? unit : -1);
        connect(combo, &QComboBox::currentIndexChanged, this, [this](int index) {
            if (index >= 0) settings_.setMeasure(static_cast<tw::server::TimeUnit>(index));
        });
    }
    if (spin) {
        spin->setValue(settings_.snapshot().Timer);
        connect(spin, &QSpinBox::valueChanged, this,
                [this](int value) { settings_.setTimer(value); });
    }

    if (QPushButton* send = sendButton()) {
        setSendCaption(texts_[Text::SendMessage]);
        send->setToolTip(texts_[Text::SendShortcutTip]);
        connect(send, &QPushButton::clicked, this,
                [this] { emit sendRequested(editor() ? editor()->toPlainText() : QString()); });
        // Ctrl+Enter is a click on the send button, also while a mailing runs (it stops it).
        for (QKeyCombination key : {Qt::CTRL | Qt::Key_Return, Qt::CTRL | Qt::Key_Enter}) {
            auto* shortcut = new QShortcut(QKeySequence(key), this);
            connect(shortcut, &QShortcut::activated, send, [send] {
                send->setFocus();
                QMetaObject::invokeMethod(send, &QPushButton::click, Qt::QueuedConnection);
            });
        }
    }
    if (auto* scan = built_.widget<QToolButton>(Id::Button_Scan)) {
        const QPixmap icon = loadIcon(Id::Ico_Scanner);
        scan->setIcon(QIcon(icon));
        scan->setIconSize(icon.size());
        scan->setToolTip(texts_[Text::ClientsScanner]);
        connect(scan, &QToolButton::clicked, this, [this] { popup(scannerMenu_, QCursor::pos()); });
    }
    if (auto* cfg = built_.widget<QToolButton>(Id::Button_Config)) {
        const QPixmap icon = loadIcon(Id::Ico_Config);
        cfg->setIcon(QIcon(icon));
        cfg->setIconSize(icon.size());
        connect(cfg, &QToolButton::clicked, this, [this] { popup(configMenu_, QCursor::pos()); });
    }
}

void MainWindow::showScannerMenu(const QPoint& globalPos) { popup(scannerMenu_, globalPos); }

void MainWindow::popup(QMenu* menu, const QPoint& globalPos) {
    if (popup_)
        popup_(menu, globalPos);
    else
        menu->popup(globalPos);
}

void MainWindow::onTemplateClicked(int row) {
    const int previous = selectedTemplate_;
    selectedTemplate_ = row;
    QListWidget* list = templatesList();
    if (selectedTemplate_ == previous) {
        // A second click on the selected template deselects it; the editor keeps its text.
        list->clearSelection();
        list->setCurrentRow(-1);
        selectedTemplate_ = -1;
    }
    if (selectedTemplate_ >= 0 && static_cast<std::size_t>(selectedTemplate_) < templates_.size()) {
        QString text = templates_[static_cast<std::size_t>(selectedTemplate_)].text;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        editor()->setPlainText(text);
    }
}

void MainWindow::saveTemplate() {
    QListWidget* list = templatesList();
    const int current =
        list && list->currentItem() && list->currentItem()->isSelected() ? list->currentRow() : -1;
    selectedTemplate_ = current;
    QString text = editor()->toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    const TemplateDraft draft = draftTemplate(text, templates_, current);
    if (!draft.worthSaving()) return;
    const auto result = tw::server::SaveTemplate(templatesFile_, templates_, draft.name, draft.text,
                                                 texts_, notifier_);
    if (result.saved && result.added && list) list->addItem(draft.name);
}

void MainWindow::removeSelectedTemplate() {
    QListWidget* list = templatesList();
    if (!list) return;
    QListWidgetItem* item = list->currentItem();
    if (!item || !item->isSelected()) return;
    const int row = list->row(item);
    if (tw::server::RemoveTemplate(templatesFile_, templates_, item->text(), row))
        delete list->takeItem(row);
    // The index would name another template now.
    list->clearSelection();
    list->setCurrentRow(-1);
    selectedTemplate_ = -1;
}

bool MainWindow::overWidget(QWidget* w, const QPoint& globalPos) const {
    return w && w->rect().contains(w->mapFromGlobal(globalPos));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (filter_ && watched == filter_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        closeFilter();
        return true;
    }
    QPlainTextEdit* ed = editor();
    QListWidget* list = templatesList();
    const bool inEditor = ed && watched == ed->viewport();
    const bool inList = list && watched == list->viewport();
    if ((!inEditor && !inList) ||
        (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease))
        return QMainWindow::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::RightButton) return QMainWindow::eventFilter(watched, event);
    const QPoint global = mouse->globalPosition().toPoint();

    if (event->type() == QEvent::MouseButtonPress) {
        if (inEditor) {
            rightPressInEditor_ = true;
            return false;  // the editor may move its cursor as usual
        }
        // The template under the cursor becomes the list's current one, without the click
        // that would load its text into the editor.
        rightPressInTemplates_ = true;
        const QPoint local = list->viewport()->mapFromGlobal(global);
        if (QListWidgetItem* item = list->itemAt(local))
            list->setCurrentItem(item);
        else {
            list->clearSelection();
            list->setCurrentRow(-1);
        }
        return true;
    }
    // Release: the menu opens only if the cursor is still over the gadget it was pressed on.
    if (inEditor && rightPressInEditor_) {
        rightPressInEditor_ = false;
        if (overWidget(ed, global)) popup(editorMenu_, global);
        return true;
    }
    if (inList && rightPressInTemplates_) {
        rightPressInTemplates_ = false;
        if (overWidget(list, global)) popup(templatesMenu_, global);
        return true;
    }
    return false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The owner stops the workers, saves the configuration and ends the program; the window
    // stays until then.
    event->ignore();
    emit closeRequested();
}

void MainWindow::showAtConfiguredGeometry() {
    const tw::server::ServerConfig config = settings_.snapshot();
    const int x = config.WindowPosX, y = config.WindowPosY;
    if (x != tw::server::kKeepWindowEdge || y != tw::server::kKeepWindowEdge)
        move(x == tw::server::kKeepWindowEdge ? pos().x() : x,
             y == tw::server::kKeepWindowEdge ? pos().y() : y);
    resize(config.WindowWidth, config.WindowHeight);
    show();
    auto place = [](QSplitter* splitter, int position) {
        if (!splitter || splitter->count() != 2) return;
        const QList<int> sizes = splitter->sizes();
        const int total = sizes.value(0) + sizes.value(1);
        splitter->setSizes({position, std::max(total - position, 0)});
    };
    place(built_.widget<QSplitter>(Id::Splitter_Horiz), config.SplitterHoriz);
    place(built_.widget<QSplitter>(Id::Splitter_Vertc), config.SplitterVertc);
}

tw::server::WindowGeometry MainWindow::liveGeometry() const {
    tw::server::WindowGeometry g;
    g.x = pos().x();
    g.y = pos().y();
    g.width = width();
    g.height = height();
    if (auto* s = built_.widget<QSplitter>(Id::Splitter_Horiz))
        g.splitterHoriz = s->sizes().value(0);
    if (auto* s = built_.widget<QSplitter>(Id::Splitter_Vertc))
        g.splitterVertc = s->sizes().value(0);
    return g;
}

}  // namespace tw::ui
