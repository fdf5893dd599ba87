#include "common/net_async.h"

#include <gtest/gtest.h>

#include <asio.hpp>
#include <thread>

#include "tests/support/support.h"

using namespace tw;
using namespace std::chrono_literals;

namespace {

// Everything a receiver hands over until `n` packets have come (or a generous limit).
std::vector<net::Received> collect(net::PacketReceiver& rx, std::size_t n) {
    std::vector<net::Received> all;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (all.size() < n && std::chrono::steady_clock::now() < end) {
        for (auto& r : rx.wait()) all.push_back(std::move(r));
    }
    return all;
}

}  // namespace

TEST(PacketReceiver, takesUdpAndTcpAndRefusesABusyPort) {
    const int port = test::freePort();
    net::PacketReceiver rx(1297);
    ASSERT_TRUE(rx.open(port));
    net::PacketReceiver other(1297);
    EXPECT_FALSE(other.open(port));
    EXPECT_FALSE(other.open(70000));

    const std::vector<std::uint8_t> block(3000, 0x41);
    ASSERT_TRUE(net::sendBlock("127.0.0.1", port, Transport::Udp, block));
    ASSERT_TRUE(net::sendBlock("127.0.0.1", port, Transport::Tcp, block));
    ASSERT_TRUE(net::sendBlock("127.0.0.1", port, Transport::Tcp, {}));  // closed at once
    const auto got = collect(rx, 3);
    ASSERT_EQ(got.size(), 3u);
    int tcp = 0, empty = 0;
    for (const auto& r : got) {
        EXPECT_EQ(r.peerAddress, "127.0.0.1");
        if (r.data.empty()) {
            ++empty;
        } else {
            EXPECT_EQ(r.data, std::vector<std::uint8_t>(1297, 0x41)) << "cut to the record";
        }
        tcp += r.transport == Transport::Tcp;
    }
    EXPECT_EQ(tcp, 2);
    EXPECT_EQ(empty, 1);
}

TEST(PacketReceiver, aStalledTcpPeerHoldsUpNobody) {
    const int port = test::freePort();
    net::PacketReceiver rx(1297, 60s);
    ASSERT_TRUE(rx.open(port));
    // Connected, three bytes, then silence for longer than the test runs.
    asio::io_context ctx;
    asio::ip::tcp::socket stalled(ctx);
    stalled.connect({asio::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port)});
    asio::write(stalled, asio::buffer("abc", 3));

    const std::vector<std::uint8_t> block(1297, 7);
    ASSERT_TRUE(net::sendBlock("127.0.0.1", port, Transport::Tcp, block));
    ASSERT_TRUE(net::sendBlock("127.0.0.1", port, Transport::Udp, block));
    const auto got = collect(rx, 2);
    ASSERT_EQ(got.size(), 2u);
    for (const auto& r : got) EXPECT_EQ(r.data, block);

    // The stalled peer gives up: what it sent comes through as it stands.
    stalled.shutdown(asio::ip::tcp::socket::shutdown_send);
    const auto last = collect(rx, 1);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].data, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
}

TEST(PacketReceiver, aBurstComesInFewWakeUpsAndStopWakesAWaitFromAnotherThread) {
    const int port = test::freePort();
    net::PacketReceiver rx(353);
    ASSERT_TRUE(rx.open(port));
    net::UdpSender udp;
    const std::vector<std::uint8_t> report(353, 1);
    // Few enough that loopback keeps them all in the socket buffer.
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(udp.sendTo("127.0.0.1", port, report));
    std::size_t got = 0;
    int wakeUps = 0;
    while (got < 50 && wakeUps < 50) {
        got += rx.wait(1024).size();
        ++wakeUps;
    }
    EXPECT_EQ(got, 50u);
    EXPECT_LT(wakeUps, 50) << "waiting packets are taken together";

    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);  // let the wait below begin; it must end either way
        rx.stop();
    });
    EXPECT_TRUE(rx.wait().empty());
    stopper.join();
    EXPECT_TRUE(rx.wait().empty()) << "a stopped receiver does not wait again";
}

TEST(TcpFanOut, everyHostGetsOneAttemptAndSilentOnesEndByTheirOwnTimeOut) {
    const int port = test::freePort();
    // The answering host listens on 127.0.0.1 only, so the silent ones can have the same
    // port on their own addresses.
    test::TcpSink answering("127.0.0.1", port);
    test::DeafTcpPort silent2("127.0.0.2", port), silent3("127.0.0.3", port);
    // 127.0.0.4: nobody listens there, so it is refused.
    const std::vector<std::string> hosts{"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4",
                                         "no-such-host.invalid"};
    const std::vector<std::uint8_t> block(1297, 9);
    std::vector<std::size_t> started;
    std::vector<std::pair<std::size_t, bool>> ended;
    net::sendToAllTcp(
        hosts, port, block, [&](std::size_t i) { started.push_back(i); },
        [&](std::size_t i, bool sent) { ended.emplace_back(i, sent); }, 256, 4s);

    EXPECT_EQ(started, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    ASSERT_EQ(ended.size(), 5u);
    std::map<std::size_t, bool> outcome(ended.begin(), ended.end());
    EXPECT_EQ(outcome.size(), 5u) << "each attempt ends once";
    EXPECT_TRUE(outcome[0]);
    EXPECT_FALSE(outcome[1]);
    EXPECT_FALSE(outcome[2]);
    EXPECT_FALSE(outcome[3]);
    EXPECT_FALSE(outcome[4]);
    // The refused and the unknown host end before the silent ones, which wait side by side.
    EXPECT_TRUE(ended[3].first == 1 || ended[3].first == 2) << "silent ones end last";
    EXPECT_TRUE(ended[4].first == 1 || ended[4].first == 2);
    ASSERT_TRUE(answering.waitForCount(1));
    EXPECT_EQ(answering.received()[0], block);
}

TEST(TcpFanOut, aLimitOfOneMakesTheAttemptsOneAfterTheOther) {
    test::TestPeer peer;
    const std::vector<std::string> hosts(4, "127.0.0.1");
    std::vector<std::string> order;
    net::sendToAllTcp(
        hosts, peer.port(), std::vector<std::uint8_t>{1, 2},
        [&](std::size_t i) { order.push_back("start " + std::to_string(i)); },
        [&](std::size_t i, bool sent) {
            order.push_back((sent ? "sent " : "failed ") + std::to_string(i));
        },
        1);
    EXPECT_EQ(order, (std::vector<std::string>{"start 0", "sent 0", "start 1", "sent 1", "start 2",
                                               "sent 2", "start 3", "sent 3"}));
    ASSERT_TRUE(peer.waitForCount(4));
}

TEST(TcpFanOut, interruptWakesAWaitAndAbandonDropsTheAttemptsInFlight) {
    const int port = test::freePort();
    test::DeafTcpPort silent("127.0.0.2", port);
    net::TcpFanOut fan(8, 60s);
    fan.start(7, "127.0.0.2", port, std::vector<std::uint8_t>{1});
    fan.start(8, "127.0.0.2", 70000, std::vector<std::uint8_t>{1});  // a bad port ends at once
    const auto bad = fan.poll();
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0].tag, 8u);
    EXPECT_FALSE(bad[0].sent);
    EXPECT_EQ(fan.inFlight(), 1u);

    std::thread waker([&] {
        std::this_thread::sleep_for(50ms);  // the wait below ends either way
        fan.interrupt();
    });
    EXPECT_TRUE(fan.wait().empty());
    waker.join();
    fan.abandon();
    EXPECT_EQ(fan.inFlight(), 0u);
    EXPECT_TRUE(fan.poll().empty());
}
