// The engine's two speed figures, printed:
//  1. matching a burst of 65,024 delivery reports against a 65,024-client database, through
//     the listener's own handling path (target: under 1 s), by GUID and by address;
//  2. a UDP mailing pass to 65,024 clients on loopback addresses 127.0.x.y (target: under
//     2 s), from the send request until the pass has ended.
// With --tcp-pass FILE PORT it times one TCP pass over FILE instead (see tcp_dead_clients.sh).
// The database is one list of the range 127.0.0.1-127.1.1.254 (65,024 addresses; the range
// never produces an octet 255).
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench_timing.h"
#include "common/net.h"
#include "server/engine/engine.h"
#include "server/engine/engine_core.h"
#include "server/engine/report_listener.h"

using namespace tw::server;
using tw::bench::Clock;
using tw::bench::median;
using tw::bench::msSince;

namespace {

// A port nobody listens on: the datagrams of the pass are dropped by the system.
int unusedPort() {
    for (int port = 40000; port < 60000; port += 7) {
        tw::net::UdpListener u;
        if (u.open(port)) return port;
    }
    return 40001;
}

struct Setup {
    ServerSettings settings;
    ServerContext ctx;
    InterfaceTexts texts;
    explicit Setup(const std::filesystem::path& file) {
        texts.setLanguage(QStringLiteral("EN"), 47128, nullptr);
        ctx.settings = &settings;
        ctx.hostName = QStringLiteral("BENCH");
        const auto r = LoadClientsDatabase(file, ctx.tree.records(), nullptr, texts);
        if (r.status != LoadResult::Status::Loaded) std::abort();
        ctx.tree.rebuildIndex();
    }
};

double matchBurst(const std::filesystem::path& file, bool broadcast, std::size_t& matched) {
    Setup s(file);
    ServerEngine owner(s.ctx, s.texts);  // receives the signals; nobody listens to them
    engine::Core core(s.ctx, s.texts, &owner);
    s.settings.setBroadcast(broadcast ? 1 : 0, s.settings.snapshot().Broadcast_IP);
    auto& list = s.ctx.tree.records();
    std::vector<tw::net::Received> burst;
    burst.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        auto& r = list[i];
        if (r.folder) continue;
        // What the sender leaves in each record of a unicast mailing.
        r.messageId = QStringLiteral("333333333");
        r.messageGuid = QStringLiteral("%1-0000-4000-8000-000000000000")
                            .arg(i, 8, 16, QLatin1Char('0'))
                            .toUpper();
        tw::ReportPacket p;
        p.clientName = u"PC";
        p.msgRootId = r.messageId.toStdU16String();
        p.msgGuid = r.messageGuid.toStdU16String();
        p.kind = tw::ReportKind::Delivered;
        const auto bytes = p.serialize();
        burst.push_back(
            {tw::Transport::Udp, r.address.toStdString(), {bytes.begin(), bytes.end()}});
    }
    engine::ReportListener listener(core);
    const auto t0 = Clock::now();
    for (std::size_t from = 0; from < burst.size(); from += 1024) {  // as the listener takes them
        std::vector<tw::net::Received> batch(
            burst.begin() + static_cast<long>(from),
            burst.begin() + static_cast<long>(std::min(burst.size(), from + 1024)));
        listener.handle(batch);
    }
    const double ms = msSince(t0);
    matched =
        static_cast<std::size_t>(std::count_if(list.begin(), list.end(), [](const ClientRecord& r) {
            return !r.folder && r.deliveryState == DeliveryState::Delivered;
        }));
    return ms;
}

// With `signing`: `prepared` lets the signer make its nonce points first, as it does while
// the operator writes the text; without, the pass starts at once.
double udpPass(const std::filesystem::path& file, std::size_t& sentTo,
               const std::optional<tw::auth::Key>& signing = std::nullopt, bool prepared = false) {
    Setup s(file);
    s.ctx.keys.signing = signing;
    ServerConfig cfg = s.settings.snapshot();
    cfg.PortSender = unusedPort();
    cfg.ProtoUseTCP = 0;
    s.settings.replace(cfg);
    for (auto& r : s.ctx.tree.records()) r.checkMark = CheckMark::Checked;
    ServerEngine engine(s.ctx, s.texts);
    engine.setHistoryFile(file.parent_path() / "mailings.jsonl");  // not the working folder
    while (prepared && !engine.signingReserveFull())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto t0 = Clock::now();
    engine.sendRequest(QStringLiteral("benchmark"));
    while (engine.sending()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    const double ms = msSince(t0);
    sentTo = static_cast<std::size_t>(
        std::count_if(s.ctx.tree.records().begin(), s.ctx.tree.records().end(),
                      [](const ClientRecord& r) { return !r.folder && !r.messageGuid.isEmpty(); }));
    return ms;
}

// One TCP mailing pass over the database in `file` to `port` (the clients are set up by
// bench/server_engine/tcp_dead_clients.sh); prints the pass time and the outcome.
int tcpPass(const std::filesystem::path& file, int port) {
    Setup s(file);
    ServerConfig cfg = s.settings.snapshot();
    cfg.PortSender = port;
    cfg.ProtoUseTCP = 1;
    s.settings.replace(cfg);
    for (auto& r : s.ctx.tree.records()) r.checkMark = CheckMark::Checked;
    ServerEngine engine(s.ctx, s.texts);
    engine.setHistoryFile(file.parent_path() / "mailings.jsonl");  // not the working folder
    const auto t0 = Clock::now();
    engine.sendRequest(QStringLiteral("benchmark"));
    while (engine.sending()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double ms = msSince(t0);
    std::size_t clients = 0, failed = 0;
    for (const auto& r : s.ctx.tree.records()) {
        if (r.folder) continue;
        ++clients;
        failed += r.deliveryState == DeliveryState::NotDelivered;
    }
    std::printf("TCP mailing pass: %zu clients, %zu connected, %zu not reached, %.0f ms\n", clients,
                clients - failed, failed, ms);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::string_view(argv[1]) == "--tcp-pass")
        return tcpPass(argv[2], std::atoi(argv[3]));
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("tellwick-engine-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "clients.xml";
    std::ofstream(file) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root config=\"3.1\">\n"
                           "    <list name=\"Net\">127.0.0.1-127.1.1.254</list>\n</root>\n";

    // A key of the operator's for the signed pass.
    fs::create_directories(dir / "keys");
    if (const std::string e = tw::auth::generateKeys(dir / "keys"); !e.empty()) {
        std::printf("cannot make keys: %s\n", e.c_str());
        return 1;
    }
    const auto key =
        tw::auth::readKeyFile(dir / "keys" / "operator.key", tw::auth::KeyKind::OperatorSecret).key;

    std::vector<double> guid, address, pass, signedPass, coldPass;
    std::size_t matchedGuid = 0, matchedAddress = 0, sent = 0, sentSigned = 0, sentCold = 0;
    for (int run = 0; run < 5; ++run) {
        guid.push_back(matchBurst(file, false, matchedGuid));
        address.push_back(matchBurst(file, true, matchedAddress));
        pass.push_back(udpPass(file, sent));
        signedPass.push_back(udpPass(file, sentSigned, key, true));
        coldPass.push_back(udpPass(file, sentCold, key, false));
    }
    std::printf(
        "match burst, by RootId+GUID: %zu of 65024 reports matched, median %.1f ms (target < 1000 "
        "ms)\n",
        matchedGuid, median(guid));
    std::printf(
        "match burst, by IP address:  %zu of 65024 reports matched, median %.1f ms (target < 1000 "
        "ms)\n",
        matchedAddress, median(address));
    std::printf(
        "UDP mailing pass:            %zu of 65024 clients sent to, median %.1f ms (target < 2000 "
        "ms)\n",
        sent, median(pass));
    std::printf(
        "UDP mailing pass, signed:    %zu of 65024 clients sent to, median %.1f ms, %.2fx the "
        "unsigned pass (target at most 1.5x)\n",
        sentSigned, median(signedPass), median(signedPass) / median(pass));
    std::printf(
        "  the same at once after start-up, no nonce point made yet: %zu sent to, median %.1f ms, "
        "%.2fx\n",
        sentCold, median(coldPass), median(coldPass) / median(pass));
    fs::remove_all(dir);
    const bool ok = median(guid) < 1000 && median(address) < 1000 && median(pass) < 2000 &&
                    matchedGuid == 65024 && matchedAddress == 65024 && sent == 65024;
    return ok ? 0 : 1;
}
