#pragma once
// The mailing history: past mailings with their counts, newest first; the clients of the
// selected one below; an export of it as CSV.
#include <QDialog>
#include <filesystem>
#include <functional>
#include <optional>

#include "server/data/history.h"
#include "server/data/texts.h"

class QPushButton;
class QTreeWidget;

namespace tw::ui {

class HistoryDialog : public QDialog {
    Q_OBJECT
public:
    HistoryDialog(std::filesystem::path file, const tw::server::InterfaceTexts& texts,
                  QWidget* parent = nullptr);

    QTreeWidget* mailings() const { return mailings_; }
    QTreeWidget* clients() const { return clients_; }

    // Where the export goes; by default the operator is asked with a file dialog. Tests give
    // a path instead. An empty answer cancels.
    void setExportPathChooser(std::function<QString()> chooser) { chooser_ = std::move(chooser); }
    // Writes the selected mailing as CSV to `path`; false (and a box) when it cannot.
    bool exportSelected(const QString& path);

private:
    void showClients();

    std::filesystem::path file_;
    const tw::server::InterfaceTexts& texts_;
    QTreeWidget* mailings_;
    QTreeWidget* clients_;
    QPushButton* export_;
    std::optional<tw::server::MailingRecord> shown_;
    std::function<QString()> chooser_;
};

}  // namespace tw::ui
