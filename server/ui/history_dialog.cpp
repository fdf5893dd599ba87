#include "server/ui/history_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/platform/message_box.h"

namespace tw::ui {

using tw::server::Text;

namespace {

constexpr int kRootIdRole = Qt::UserRole + 1;
constexpr int kOffsetRole = Qt::UserRole + 2;

QTreeWidget* makeTable(const QStringList& headers, const QString& name, QWidget* parent) {
    auto* t = new QTreeWidget(parent);
    t->setObjectName(name);
    t->setRootIsDecorated(false);
    t->setUniformRowHeights(true);
    t->setHeaderLabels(headers);
    t->setAccessibleName(name);
    t->header()->setStretchLastSection(true);
    return t;
}

}  // namespace

HistoryDialog::HistoryDialog(std::filesystem::path file, const tw::server::InterfaceTexts& texts,
                             QWidget* parent)
    : QDialog(parent), file_(std::move(file)), texts_(texts) {
    setObjectName(QStringLiteral("Dialog_History"));
    setWindowTitle(texts[Text::History]);
    resize(720, 480);
    mailings_ =
        makeTable({texts[Text::HistoryTime], texts[Text::HistoryMessage],
                   texts[Text::HistoryTransport], texts[Text::Confirmed], texts[Text::Delivered],
                   texts[Text::NotDelivered], texts[Text::HistoryTotal]},
                  QStringLiteral("History_Mailings"), this);
    mailings_->setAccessibleName(texts[Text::History]);
    clients_ = makeTable({texts[Text::ScanName], texts[Text::ScanAddress],
                          texts[Text::HistoryState], texts[Text::HistoryReportTime]},
                         QStringLiteral("History_Clients"), this);

    const auto list = tw::server::readHistoryList(file_);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(list.size()));
    for (auto it = list.rbegin(); it != list.rend(); ++it) {  // newest first
        QString text = it->text;
        text.replace(u'\n', u' ');
        auto* row = new QTreeWidgetItem(QStringList{
            it->time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), text.left(80), it->transport,
            QString::number(it->counts.confirmed), QString::number(it->counts.delivered),
            QString::number(it->counts.notDelivered), QString::number(it->counts.total)});
        row->setData(0, kRootIdRole, it->rootId);
        row->setData(0, kOffsetRole, it->offset);
        rows.push_back(row);
    }
    mailings_->addTopLevelItems(rows);
    // Widths for the usual contents, set once: measuring 10,000 rows would slow the opening.
    const int widths[] = {150, 250, 80, 80, 80, 90, 60};
    for (int c = 0; c < 7; ++c) mailings_->setColumnWidth(c, widths[c]);
    clients_->setColumnWidth(0, 200);
    clients_->setColumnWidth(1, 140);
    clients_->setColumnWidth(2, 120);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(mailings_);
    splitter->addWidget(clients_);
    auto* buttons = new QDialogButtonBox(this);
    export_ = buttons->addButton(texts[Text::HistoryExport], QDialogButtonBox::ActionRole);
    export_->setObjectName(QStringLiteral("History_Export"));
    export_->setEnabled(false);
    QPushButton* close = buttons->addButton(texts[Text::Close], QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("History_Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    if (list.empty()) layout->addWidget(new QLabel(texts[Text::HistoryEmpty], this));
    layout->addWidget(splitter, 1);
    layout->addWidget(buttons);

    connect(mailings_, &QTreeWidget::currentItemChanged, this, &HistoryDialog::showClients);
    connect(export_, &QPushButton::clicked, this, [this] {
        const QString path = chooser_
                                 ? chooser_()
                                 : QFileDialog::getSaveFileName(
                                       this, texts_[Text::HistoryExport],
                                       shown_ ? shown_->rootId + QStringLiteral(".csv") : QString(),
                                       QStringLiteral("CSV (*.csv)"));
        if (!path.isEmpty()) exportSelected(path);
    });
    if (!rows.isEmpty()) mailings_->setCurrentItem(rows.front());
}

void HistoryDialog::showClients() {
    clients_->clear();
    shown_.reset();
    const QTreeWidgetItem* current = mailings_->currentItem();
    export_->setEnabled(false);
    if (!current) return;
    shown_ = tw::server::readMailing(file_, current->data(0, kRootIdRole).toString(),
                                     current->data(0, kOffsetRole).toLongLong());
    if (!shown_) return;
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(shown_->clients.size()));
    for (const auto& c : shown_->clients)
        rows.push_back(new QTreeWidgetItem(
            QStringList{c.name, c.address, tw::server::stateWord(c.state, texts_), c.reportTime}));
    clients_->addTopLevelItems(rows);
    export_->setEnabled(true);
}

bool HistoryDialog::exportSelected(const QString& path) {
    if (!shown_) return false;
    QSaveFile out(path);
    const QByteArray csv = tw::server::mailingCsv(*shown_, texts_);
    if (!out.open(QIODevice::WriteOnly) || out.write(csv) != csv.size() || !out.commit()) {
        tw::platform::showMessageBox(texts_[Text::ErrorTitle], texts_[Text::CantWriteFile] + path,
                                     tw::platform::BoxIcon::Error);
        return false;
    }
    return true;
}

}  // namespace tw::ui
