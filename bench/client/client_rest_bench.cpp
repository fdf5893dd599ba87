// The resident client at rest and answering, printed (never asserted):
//  1. wake-ups per second and CPU over a period at rest (all threads: context switches from
//     /proc/<pid>/task/*/status, CPU time from /proc/<pid>/stat), and its resident memory;
//  2. the round trip of a check probe, send to answer, median and p99 over 1,000 probes over
//     UDP and over TCP, with no window open and with a message window open.
// Usage: bench_client_rest [seconds at rest, default 60]
// The client runs on the offscreen platform unless QT_QPA_PLATFORM is set (with DISPLAY, e.g.
// "xcb" on an Xvfb display, to measure it as on a desktop).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/net.h"
#include "common/net_async.h"
#include "common/packets.h"
#include "tests/support/support.h"

using namespace tw;
using Clock = std::chrono::steady_clock;

namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

long statusField(const std::string& status, const std::string& key) {
    const auto at = status.find(key + ":");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + key.size() + 1);
}

// Context switches of every thread: each one is a wake-up of a sleeping thread (or a thread
// pushed off the processor).
long switches(int pid) {
    long n = 0;
    for (const auto& t :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        const std::string s = slurp(t.path() / "status");
        n += statusField(s, "voluntary_ctxt_switches") +
             statusField(s, "nonvoluntary_ctxt_switches");
    }
    return n;
}

// utime + stime in clock ticks (fields 14 and 15, after the command name in parentheses).
long cpuTicks(int pid) {
    const std::string s = slurp("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream in(s.substr(s.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::atol(field.c_str());
        if (i == 15) stime = std::atol(field.c_str());
    }
    return utime + stime;
}

long clockTicksPerSecond() {
    const test::RunResult r = test::run("/usr/bin/getconf", test::withArgs({"CLK_TCK"}));
    const long v = std::atol(r.out.c_str());
    return v > 0 ? v : 100;
}

struct Spread {
    double median, p99;
};

Spread spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

// 1,000 check probes, one at a time: send, then sleep in the receiver until the answer.
Spread probeRoundTrips(int clientPort, net::PacketReceiver& answers, Transport transport) {
    MessagePacket probe;
    probe.language = u"EN";
    probe.systemMessage = 5;
    std::vector<double> ms;
    net::UdpSender udp;
    for (int i = 0; i < 1000; ++i) {
        probe.msgRootId = u"9" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10));
        const auto bytes = probe.serialize();
        const auto t0 = Clock::now();
        const bool sent = transport == Transport::Udp
                              ? udp.sendTo("127.0.0.1", clientPort, bytes)
                              : net::sendBlock("127.0.0.1", clientPort, Transport::Tcp, bytes);
        if (!sent) continue;
        for (bool got = false; !got;) {
            for (const auto& r : answers.wait())
                if (!r.data.empty()) got = true;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return spread(ms);
}

}  // namespace

int main(int argc, char** argv) {
    const int restSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const auto bin = std::filesystem::read_symlink("/proc/self/exe").parent_path();

    test::TempDir dir;
    const auto work = dir / "work";
    const auto runtime = dir / "run";
    std::filesystem::create_directories(work);
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const int clientPort = test::freePort();
    int reportPort = test::freePort();
    while (reportPort == clientPort) reportPort = test::freePort();
    test::writeFile(work / "cln_config.ini",
                    "[Common]\nLog.UseEventLogger = 1\n[Network]\nNet.PortListen = " +
                        std::to_string(clientPort) +
                        "\nNet.PortSender = " + std::to_string(reportPort) + "\n");

    net::PacketReceiver answers(kReportPacketSize);
    if (!answers.open(reportPort)) {
        std::fprintf(stderr, "cannot listen on %d\n", reportPort);
        return 1;
    }

    test::Process::Options o;
    o.workDir = work;
    o.env = {{"XDG_RUNTIME_DIR", runtime.string()},
             {"TELLWICK_REGISTRY", (dir / "registry").string()},
             {"TELLWICK_EVENTLOG", (dir / "events.jsonl").string()},
             {"TELLWICK_NONINTERACTIVE", "1"}};
    if (!std::getenv("QT_QPA_PLATFORM")) o.env["QT_QPA_PLATFORM"] = "offscreen";
    test::Process client(bin / "tellwick_client", o);
    if (!test::waitFor([&] { return !test::readEventLog(dir / "events.jsonl").empty(); })) {
        std::fprintf(stderr, "the client did not start: %s\n", client.err().c_str());
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // let start-up settle

    const long ticks = clockTicksPerSecond();
    const long s0 = switches(client.pid());
    const long c0 = cpuTicks(client.pid());
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(restSeconds));
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const long s1 = switches(client.pid());
    const long c1 = cpuTicks(client.pid());
    const std::string status = slurp("/proc/" + std::to_string(client.pid()) + "/status");

    std::printf("client at rest for %.1f s (%s platform)\n", seconds,
                std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "offscreen");
    std::printf("  wake-ups (context switches, all threads): %ld, %.2f per second\n", s1 - s0,
                (s1 - s0) / seconds);
    std::printf("  CPU: %ld ticks, %.4f %%\n", c1 - c0,
                100.0 * (c1 - c0) / static_cast<double>(ticks) / seconds);
    std::printf("  RSS at rest: %.1f MB (peak %.1f MB)\n", statusField(status, "VmRSS") / 1024.0,
                statusField(status, "VmHWM") / 1024.0);

    for (const bool windowOpen : {false, true}) {
        if (windowOpen) {
            MessagePacket text;
            text.language = u"EN";
            text.msgRootId = u"1";
            text.msgText = u"Open while the probes come";
            text.systemMessage = 1;
            net::sendBlock("127.0.0.1", clientPort, Transport::Udp, text.serialize());
            for (bool delivered = false; !delivered;)
                for (const auto& r : answers.wait())
                    if (ReportPacket::parse(r.data).kind == ReportKind::Delivered) delivered = true;
        }
        for (const Transport t : {Transport::Udp, Transport::Tcp}) {
            const Spread s = probeRoundTrips(clientPort, answers, t);
            std::printf(
                "check probe round trip over %s%s, 1,000 probes: median %.3f ms, p99 %.3f ms\n",
                t == Transport::Udp ? "UDP" : "TCP",
                windowOpen ? " with a message window open" : "", s.median, s.p99);
        }
    }
    client.signal(15);
    client.wait();
    return 0;
}
