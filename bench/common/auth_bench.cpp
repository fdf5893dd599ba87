// What authentication costs per packet, printed (medians of 5 rounds of 20,000 packets): the
// operator's signature of a message (as it goes, and from a nonce point made ahead of time,
// with what making that point costs), a workstation's check of it, and the MAC of a report
// and its check on the server.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "bench/bench_timing.h"
#include "common/auth.h"
#include "common/packets.h"

using tw::bench::Clock;
using tw::bench::median;
using tw::bench::msSince;

namespace {

template <class F>
double microsecondsEach(int n, F f) {
    const auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) f(i);
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / n;
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "tellwick-auth-bench";
    fs::remove_all(dir);
    fs::create_directories(dir);
    if (!tw::auth::generateKeys(dir).empty()) return 1;
    using tw::auth::KeyKind;
    const auto secret = *tw::auth::readKeyFile(dir / "operator.key", KeyKind::OperatorSecret).key;
    const auto pub = *tw::auth::readKeyFile(dir / "operator.pub", KeyKind::OperatorPublic).key;
    const auto office = *tw::auth::readKeyFile(dir / "office.key", KeyKind::Office).key;
    fs::remove_all(dir);

    const auto msg = tw::MessagePacket{}.serialize();
    const auto rep = tw::ReportPacket{}.serialize();
    constexpr int kPackets = 20000;
    std::vector<double> sign, prepare, fromPoint, verify, mac, check;
    for (int round = 0; round < 5; ++round) {
        const std::uint64_t now = tw::auth::nowMs();
        std::vector<std::vector<std::uint8_t>> signedPackets(kPackets), macedPackets(kPackets);
        sign.push_back(microsecondsEach(kPackets, [&](int i) {
            signedPackets[static_cast<std::size_t>(i)] = tw::auth::sign(msg, secret, now);
        }));
        tw::auth::Signer signer(secret);
        prepare.push_back(microsecondsEach(kPackets, [&](int) { signer.prepareOne(kPackets); }));
        fromPoint.push_back(microsecondsEach(kPackets, [&](int i) {
            signedPackets[static_cast<std::size_t>(i)] = signer.sign(msg, now);
        }));
        tw::auth::ReplayGuard clientGuard;
        verify.push_back(microsecondsEach(kPackets, [&](int i) {
            if (tw::auth::verify(signedPackets[static_cast<std::size_t>(i)], msg.size(), pub,
                                 clientGuard, now) != tw::auth::Verdict::Ok)
                std::abort();
        }));
        mac.push_back(microsecondsEach(kPackets, [&](int i) {
            macedPackets[static_cast<std::size_t>(i)] = tw::auth::mac(rep, office, now);
        }));
        tw::auth::ReplayGuard serverGuard;
        check.push_back(microsecondsEach(kPackets, [&](int i) {
            if (tw::auth::verify(macedPackets[static_cast<std::size_t>(i)], rep.size(), office,
                                 serverGuard, now) != tw::auth::Verdict::Ok)
                std::abort();
        }));
    }
    std::printf(
        "per packet, median of 5 x %d: sign a message %.1f us (from a prepared nonce point "
        "%.1f us, the point made ahead %.1f us), check it on a workstation %.1f us; MAC a "
        "report %.1f us, check it on the server %.1f us\n",
        kPackets, median(sign), median(fromPoint), median(prepare), median(verify), median(mac),
        median(check));
    return 0;
}
