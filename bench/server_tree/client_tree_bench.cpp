// The client tree in the program's main window with 65,024 clients (one list
// 10.0.0.1-10.1.1.254, the /16-sized range that the address enumeration can reach): the time
// to load them into the window, to check the root, and to show one report's icon; also a
// whole end of mailing (every client's icon) and a rebuild after a scan. Prints the figures;
// the target for the first three is well under a second each. Runs offscreen unless
// QT_QPA_PLATFORM says otherwise.
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "bench/bench_timing.h"
#include "server/data/clients.h"
#include "server/ui/client_tree_view.h"
#include "server/ui/layout/ui_document.h"
#include "server/ui/layout/window_builder.h"
#include "server/ui/resources.h"

namespace {

using tw::bench::Clock;
using tw::bench::median;
using tw::bench::msSince;

void report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %8.2f ms, best %8.2f ms, worst %8.2f ms (%zu runs)\n", what,
                ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtimeDir;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtimeDir.isValid())
        qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    QApplication app(argc, argv);

    namespace fs = std::filesystem;
    QTemporaryDir dataDir;
    const fs::path file = fs::path(dataDir.path().toStdString()) / "clients.xml";
    std::ofstream(file) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root config=\"3.1\">\n"
                           "    <list name=\"Net\">10.0.0.1-10.1.1.254</list>\n</root>\n";

    const auto parsed = tw::ui::UiDocument::parse(tw::ui::embeddedDialogDocument());
    if (!parsed.ok()) return 1;
    tw::server::InterfaceTexts texts;
    texts.setLanguage(QStringLiteral("EN"), 47128, nullptr);

    constexpr int kRuns = 5;
    std::vector<double> load, checkRoot, uncheckRoot, oneIcon, endOfMailing, rebuild;
    int items = 0;
    for (int run = 0; run < kRuns; ++run) {
        const tw::ui::BuiltWindow built = tw::ui::openWindow(*parsed.document, u"Window_Main");
        std::unique_ptr<QWidget> window(built.window());
        auto* tree = built.widget<QTreeWidget>(tw::ui::Id::Tree_List);
        tw::server::ClientTree clients;
        std::mutex lock;
        tw::ui::ClientTreeView view(tree, clients, lock);
        window->resize(900, 700);
        window->show();
        QCoreApplication::processEvents();

        // start-up: the load fills the list and the tree, the window shows them
        auto t0 = Clock::now();
        if (tw::server::LoadClientsDatabase(file, clients.records(), &view, texts).failed())
            return 1;
        clients.rebuildIndex();
        QCoreApplication::processEvents();
        load.push_back(msSince(t0));
        items = tree->topLevelItemCount() ? view.itemCount() : 0;

        // the operator opens the list and checks the root (what the box click does)
        view.expandItem(0);
        view.expandItem(1);
        QCoreApplication::processEvents();
        t0 = Clock::now();
        view.item(0)->setCheckState(0, Qt::Checked);
        QCoreApplication::processEvents();
        checkRoot.push_back(msSince(t0));
        if (!view.anyChecked() || view.item(items - 1)->checkState(0) != Qt::Checked) return 2;

        // one report arrives for the last client: the worker updates, the window redraws
        t0 = Clock::now();
        QVector<int> changed;
        {
            std::lock_guard<std::mutex> guard(lock);
            clients.records().back().deliveryState = tw::server::DeliveryState::Delivered;
            const auto up = clients.updateUpwards(items - 1, tw::server::DeliveryState::Delivered);
            changed = QVector<int>(up.begin(), up.end());
        }
        view.refreshItems(changed);
        QCoreApplication::processEvents();
        oneIcon.push_back(msSince(t0));

        // the end of mailing: every other client becomes "not delivered"
        t0 = Clock::now();
        changed.clear();
        {
            std::lock_guard<std::mutex> guard(lock);
            for (int i = 2; i < items - 1; ++i) {
                clients.records()[static_cast<std::size_t>(i)].deliveryState =
                    tw::server::DeliveryState::NotDelivered;
                const auto up = clients.updateUpwards(i, tw::server::DeliveryState::NotDelivered);
                changed.append(QVector<int>(up.begin(), up.end()));
            }
        }
        view.refreshItems(changed);
        QCoreApplication::processEvents();
        endOfMailing.push_back(msSince(t0));

        t0 = Clock::now();
        view.item(0)->setCheckState(0, Qt::Unchecked);
        QCoreApplication::processEvents();
        uncheckRoot.push_back(msSince(t0));

        // after a scan the window rebuilds the tree from the reloaded records
        t0 = Clock::now();
        view.rebuildFromRecords(QStringLiteral("All clients"));
        view.expandItem(0);
        view.expandItem(1);
        QCoreApplication::processEvents();
        rebuild.push_back(msSince(t0));
    }

    std::printf("client tree, one list 10.0.0.1-10.1.1.254: %d items (root, list, %d clients)\n",
                items, items - 2);
    report("load into the window (file to shown tree)", load);
    report("check the root (list expanded)", checkRoot);
    report("one icon update (report for one client)", oneIcon);
    report("uncheck the root", uncheckRoot);
    report("end of mailing (65,022 icon updates)", endOfMailing);
    report("rebuild from the records after a scan", rebuild);
    return 0;
}
