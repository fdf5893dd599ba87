#include "server/ui/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>

#include "server/ui/layout/gadgets.h"
#include "server/ui/resources.h"

namespace tw::ui {

using tw::server::Text;

namespace {

void addEscape(QDialog* dialog) {
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), dialog);
    QObject::connect(esc, &QShortcut::activated, dialog, &QDialog::reject);
}

void fillFormats(QComboBox* combo, int selected) {
    combo->addItems({QStringLiteral("IP"), QStringLiteral("NetBIOS"), QStringLiteral("FQDN")});
    combo->setCurrentIndex(selected < combo->count() ? selected : -1);
}

// Always a dialog, also without a parent window.
BuiltWindow openDialog(const UiDocument& doc, QStringView name, QWidget* parent) {
    auto* host = new QDialog(parent);
    BuiltWindow built = buildWindow(doc, name, host);
    if (!built.isValid()) delete host;
    return built;
}

void openInBrowser(const QUrl& url) {
    // A browser that does not start is not reported.
    QDesktopServices::openUrl(url);
}

}  // namespace

// ----- Settings

SettingsDialog::SettingsDialog(const UiDocument& doc, QWidget* parent,
                               tw::server::ServerSettings& settings,
                               const tw::server::InterfaceTexts& texts)
    : built_(openDialog(doc, u"Settings", parent)), settings_(settings) {
    QDialog* d = dialog();
    if (!d) return;
    const tw::server::ServerConfig config = settings.snapshot();
    d->setWindowTitle(texts[Text::Settings]);
    if (auto* f = built_.widget<QGroupBox>(Id::Frame_Settings_Common))
        f->setTitle(texts[Text::FrameCommon]);
    if (auto* f = built_.widget<QGroupBox>(Id::Frame_Settings_Scanner))
        f->setTitle(texts[Text::FrameScanner]);
    if (auto* check = built_.widget<QCheckBox>(Id::Check_Settings_Broad)) {
        check->setText(texts[Text::UseBroadcastMode]);
        check->setToolTip(texts[Text::BroadcastModeTip]);
        check->setChecked(config.Broadcast == 1);
    }
    if (auto* ip = built_.widget<Ipv4Field>(Id::IpAddr_Settings))
        ip->setAddress(config.Broadcast_IP);
    if (auto* l = built_.widget<QLabel>(Id::Text_ScanForm))
        l->setText(texts[Text::DataSavingFormat]);
    if (auto* l = built_.widget<QLabel>(Id::Text_ScanName)) l->setText(texts[Text::ScanName]);
    if (auto* l = built_.widget<QLabel>(Id::Text_ScanAddr)) l->setText(texts[Text::ScanAddress]);
    if (auto* c = built_.widget<QComboBox>(Id::Combo_ScanL)) fillFormats(c, config.SaveFormatName);
    if (auto* c = built_.widget<QComboBox>(Id::Combo_ScanR)) fillFormats(c, config.SaveFormatValue);

    auto* ok = built_.widget<QPushButton>(Id::Button_Settings_OK);
    if (ok) {
        QObject::connect(ok, &QPushButton::clicked, d, [this, d] {
            store();
            d->accept();
        });
        // Enter confirms like a click on OK, wherever the focus is.
        for (int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
            auto* enter = new QShortcut(QKeySequence(key), d);
            QObject::connect(enter, &QShortcut::activated, ok, [ok] {
                QMetaObject::invokeMethod(ok, &QPushButton::click, Qt::QueuedConnection);
            });
        }
    }
    addEscape(d);
}

SettingsDialog::~SettingsDialog() { delete built_.window(); }

QDialog* SettingsDialog::dialog() const { return qobject_cast<QDialog*>(built_.window()); }

bool SettingsDialog::exec() {
    QDialog* d = dialog();
    return d && d->exec() == QDialog::Accepted;
}

void SettingsDialog::store() {
    tw::server::ServerConfig c = settings_.snapshot();
    if (auto* ip = built_.widget<Ipv4Field>(Id::IpAddr_Settings)) c.Broadcast_IP = ip->address();
    if (auto* check = built_.widget<QCheckBox>(Id::Check_Settings_Broad))
        c.Broadcast = check->isChecked() ? 1 : 0;
    // A list left without a choice (a value from the file that names no format) keeps it.
    if (auto* l = built_.widget<QComboBox>(Id::Combo_ScanL); l && l->currentIndex() >= 0)
        c.SaveFormatName = static_cast<std::uint8_t>(l->currentIndex());
    if (auto* l = built_.widget<QComboBox>(Id::Combo_ScanR); l && l->currentIndex() >= 0)
        c.SaveFormatValue = static_cast<std::uint8_t>(l->currentIndex());
    settings_.setBroadcast(c.Broadcast, c.Broadcast_IP);
    settings_.setScanFormats(c.SaveFormatName, c.SaveFormatValue);
}

// ----- Changelog and About

DocumentDialog::DocumentDialog(const UiDocument& doc, QWidget* parent, QStringView name,
                               const tw::server::InterfaceTexts& texts, UrlOpener opener)
    : built_(openDialog(doc, name, parent)) {
    QDialog* d = dialog();
    if (!d) return;
    if (!opener) opener = openInBrowser;
    const bool about = name == u"About";
    d->setWindowTitle(texts[about ? Text::About : Text::Changelog]);
    if (auto* view = built_.widget<QTextBrowser>(about ? Id::Editor_About : Id::Editor_Changelog)) {
        view->setOpenLinks(false);
        view->setReadOnly(true);
        view->setHtml(about ? aboutDocument() : changelogDocument());
    }
    if (about) {
        if (auto* link = built_.widget<HyperlinkLabel>(Id::Hyper_About)) {
            QPalette pal = link->palette();
            pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
            link->setPalette(pal);
            QObject::connect(link, &HyperlinkLabel::clicked, d,
                             [opener] { opener(QUrl(QString::fromLatin1(kForumUrl))); });
        }
        if (auto* donate = built_.widget<QPushButton>(Id::Button_Donate)) {
            donate->setText(texts[Text::Donate]);
            QObject::connect(donate, &QPushButton::clicked, d,
                             [opener] { opener(QUrl(QString::fromLatin1(kDonateUrl))); });
        }
    }
    addEscape(d);
}

DocumentDialog::~DocumentDialog() { delete built_.window(); }

QDialog* DocumentDialog::dialog() const { return qobject_cast<QDialog*>(built_.window()); }

void DocumentDialog::exec() {
    if (QDialog* d = dialog()) d->exec();
}

QString changelogDocument() { return embeddedText(u"changelog.html"); }
QString aboutDocument() { return embeddedText(u"about.html"); }

bool OpenSettingsDialog(const UiDocument& doc, QWidget* parent,
                        tw::server::ServerSettings& settings,
                        const tw::server::InterfaceTexts& texts) {
    SettingsDialog dialog(doc, parent, settings, texts);
    return dialog.exec();
}

void OpenChangelogDialog(const UiDocument& doc, QWidget* parent,
                         const tw::server::InterfaceTexts& texts) {
    DocumentDialog(doc, parent, u"Changelog", texts).exec();
}

void OpenAboutDialog(const UiDocument& doc, QWidget* parent,
                     const tw::server::InterfaceTexts& texts, UrlOpener opener) {
    DocumentDialog(doc, parent, u"About", texts, std::move(opener)).exec();
}

}  // namespace tw::ui
