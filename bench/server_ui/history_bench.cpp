// The mailing history's two figures, printed (medians of 5):
//  1. opening the history window over 10,000 mailings of 1,000 clients each (target: under
//     1 s), from reading the file to the filled window with the newest mailing's clients;
//  2. appending the record of a mailing to 65,024 clients (target: under 0.5 s), from the
//     outcome in memory to the line in the file.
#include <QApplication>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "bench/bench_timing.h"
#include "server/data/history.h"
#include "server/ui/history_dialog.h"

using namespace tw::server;
using tw::bench::Clock;
using tw::bench::median;
using tw::bench::msSince;

namespace {

MailingRecord mailing(int number, int clients) {
    MailingRecord m;
    m.rootId = QString::number(420000000 + number);
    m.time = QDateTime(QDate(2026, 1, 1), QTime(8, 0)).addSecs(number * 600);
    m.text = QStringLiteral("Mailing %1: the car park is closed on Friday").arg(number);
    m.transport = QStringLiteral("TCP");
    m.clients.reserve(static_cast<std::size_t>(clients));
    for (int i = 0; i < clients; ++i) {
        const DeliveryState state = i % 10 == 0  ? DeliveryState::NotDelivered
                                    : i % 3 == 0 ? DeliveryState::Delivered
                                                 : DeliveryState::Confirmed;
        m.clients.push_back(
            {QStringLiteral("PC-%1").arg(i, 5, 10, QLatin1Char('0')),
             QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 254 + 1),
             state, state == DeliveryState::NotDelivered ? QString() : QStringLiteral("10:41:07")});
    }
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() /
        ("tellwick-history-bench-" + std::to_string(QCoreApplication::applicationPid()));
    fs::create_directories(dir);
    InterfaceTexts texts;
    texts.setLanguage(QStringLiteral("EN"), 47128, nullptr);

    // 10,000 mailings; the clients of each differ only in their states, so one line serves
    // as the pattern and the file is written in large pieces.
    const fs::path big = dir / "mailings.jsonl";
    {
        std::ofstream out(big, std::ios::binary);
        for (int n = 0; n < 10000; ++n) {
            const QByteArray line = mailingLine(mailing(n, 1000));
            out.write(line.constData(), line.size());
        }
    }
    const auto bytes = fs::file_size(big);

    std::vector<double> open, append;
    int rows = 0, clients = 0;
    for (int run = 0; run < 5; ++run) {
        const auto t0 = Clock::now();
        {
            tw::ui::HistoryDialog dialog(big, texts);
            rows = dialog.mailings()->topLevelItemCount();
            clients = dialog.clients()->topLevelItemCount();
            open.push_back(msSince(t0));
        }
        const MailingRecord large = mailing(run, 65024);
        const fs::path file = dir / ("append-" + std::to_string(run) + ".jsonl");
        const auto t1 = Clock::now();
        if (!appendHistory(file, mailingLine(large))) return 1;
        append.push_back(msSince(t1));
    }
    std::printf(
        "history window over %d mailings of 1000 clients (%.0f MB): median %.0f ms, "
        "newest mailing's clients %d (target < 1000 ms)\n",
        rows, static_cast<double>(bytes) / 1e6, median(open), clients);
    std::printf("appending a mailing to 65024 clients: median %.0f ms (target < 500 ms)\n",
                median(append));
    fs::remove_all(dir);
    return 0;
}
