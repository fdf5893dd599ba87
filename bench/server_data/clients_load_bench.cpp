// Time and peak memory of loading a clients.xml whose one list is a /16-sized range of
// 65,024 clients into the clients list, without a window. Prints the figures; targets: under
// 150 ms and under 64 MB.
//
// The range is 10.0.0.1-10.1.1.254: the odometer never produces an octet 255, so the /16 end
// 10.0.255.254 is unreachable (and refused as such, timed below); this range gives the same
// 65,024 addresses (10.0.0.1 to 10.0.254.254, then 10.1.1.1 to 10.1.1.254).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "server/data/clients.h"

namespace {

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;  // kilobytes on Linux
}

// Counts items like a tree would receive them, so the call path is the window's.
class CountingTree : public tw::server::TreeSink {
public:
    void ClearTree() override { items = 0; }
    void AddTreeItem(const QString&, int) override { ++items; }
    long items = 0;
};

}  // namespace

int main() {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("tellwick-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "clients.xml";
    const auto writeList = [&](const char* range) {
        std::ofstream(file) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root config=\"3.1\">\n"
                               "    <list name=\"Net\">"
                            << range << "</list>\n</root>\n";
    };
    writeList("10.0.0.1-10.1.1.254");

    tw::server::InterfaceTexts texts;
    const long baseKb = peakRssKb();
    std::vector<double> ms;
    std::size_t records = 0;
    long items = 0;
    for (int run = 0; run < 7; ++run) {
        tw::server::ClientsList list;
        CountingTree tree;
        const auto t0 = std::chrono::steady_clock::now();
        const auto r = tw::server::LoadClientsDatabase(file, list, &tree, texts);
        const auto t1 = std::chrono::steady_clock::now();
        if (r.failed()) {
            std::fprintf(stderr, "load failed: %s\n", r.message.toUtf8().constData());
            return 1;
        }
        records = list.size();
        items = tree.items;
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    const long peakKb = peakRssKb();

    writeList("10.0.0.1-10.0.255.254");
    tw::server::ClientsList refused;
    const auto r0 = std::chrono::steady_clock::now();
    const auto refusal = tw::server::LoadClientsDatabase(file, refused, nullptr, texts);
    const double refusedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - r0).count();
    fs::remove_all(dir);

    std::sort(ms.begin(), ms.end());
    std::printf("clients.xml with 10.0.0.1-10.1.1.254: %zu records (%ld tree items)\n", records,
                items);
    std::printf("load time: median %.1f ms, best %.1f ms, worst %.1f ms (%zu runs)\n",
                ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
    std::printf("peak memory: %.1f MB for the process, %.1f MB above the start (target < 64 MB)\n",
                static_cast<double>(peakKb) / 1024.0,
                static_cast<double>(peakKb - baseKb) / 1024.0);
    std::printf("10.0.0.1-10.0.255.254 (end unreachable): %s in %.2f ms\n",
                refusal.failed() ? "refused" : "LOADED", refusedMs);
    return 0;
}
