#include "server/ui/outcome_wiring.h"

#include <QPlainTextEdit>
#include <QTimer>
#include <memory>

#include "server/data/texts.h"
#include "server/engine/engine.h"
#include "server/ui/client_tree_view.h"
#include "server/ui/history_dialog.h"
#include "server/ui/main_window.h"

namespace tw::ui {

using tw::server::ServerEngine;
using tw::server::Text;

void connectOutcome(MainWindow& window, ClientTreeView& tree, ServerEngine& engine) {
    // A burst of reports changes many items at once: the counts are read again at most every
    // 100 ms, never once per report.
    auto* refresh = new QTimer(&window);
    refresh->setSingleShot(true);
    refresh->setInterval(100);
    // The end of the waiting time is also told in the first field, once per mailing: in a
    // narrow window the third field may be cut off.
    auto endTold = std::make_shared<QDateTime>();
    QObject::connect(refresh, &QTimer::timeout, &window, [&window, &engine, endTold] {
        const auto progress = engine.mailingProgress();
        window.setFollowUpAvailable(progress.has_value());
        if (!progress) return;
        window.showOutcome(progress->counts, progress->waitEnds, progress->ended);
        if (progress->ended && *endTold != progress->waitEnds) {
            *endTold = progress->waitEnds;
            window.showStatus(window.outcomeFieldText());
        }
    });
    const auto later = [refresh] {
        if (!refresh->isActive()) refresh->start();
    };
    QObject::connect(&engine, &ServerEngine::itemsChanged, &window, later, Qt::QueuedConnection);
    QObject::connect(&engine, &ServerEngine::mailingProgressChanged, &window, later,
                     Qt::QueuedConnection);

    QObject::connect(&window, &MainWindow::followUpRequested, &window,
                     [&window, &tree, &engine](bool undeliveredOnly) {
                         const auto positions =
                             engine.followUp(undeliveredOnly ? ServerEngine::FollowUp::Undelivered
                                                             : ServerEngine::FollowUp::Unconfirmed);
                         if (!engine.mailingProgress()) return;
                         tree.checkOnly(positions);
                         // The operator sends it; an editor that holds other words keeps them.
                         if (QPlainTextEdit* ed = window.editor();
                             ed && ed->toPlainText().isEmpty())
                             ed->setPlainText(engine.lastMailingText());
                         window.showStatus(window.texts()[Text::FollowUpTicked] +
                                           QString::number(positions.size()));
                     });
    QObject::connect(&window, &MainWindow::filterChanged, &tree,
                     [&tree](const QString& text) { tree.setFilter(text); });
    QObject::connect(&window, &MainWindow::historyRequested, &window, [&window, &engine] {
        HistoryDialog dialog(engine.historyFile(), window.texts(), &window);
        dialog.exec();
    });
}

}  // namespace tw::ui
