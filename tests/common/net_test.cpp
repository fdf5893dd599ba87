#include <gtest/gtest.h>

#include "common/net.h"
#include "tests/support/support.h"

using namespace tw;
using namespace std::chrono_literals;

TEST(Net, parseIPv4AcceptsDottedQuadsOnly) {
    std::uint8_t b[4];
    EXPECT_TRUE(net::parseIPv4("10.0.1.05", b));
    EXPECT_EQ(b[3], 5);
    for (const char* bad : {"", "10.0.0", "10.0.0.256", "10.0.0.1.", "a.b.c.d", "10.0.0.1 ", "1234.0.0.1"})
        EXPECT_FALSE(net::parseIPv4(bad, b)) << bad;
}

TEST(Net, blocksArriveOverUdpAndTcpWithThePeerAddress) {
    test::TestPeer peer;
    const std::vector<std::uint8_t> block(1297, 0x41);
    ASSERT_TRUE(net::sendBlock("127.0.0.1", peer.port(), Transport::Udp, block));
    ASSERT_TRUE(net::sendBlock("localhost", peer.port(), Transport::Tcp, block));
    ASSERT_TRUE(peer.waitForCount(2));
    const auto got = peer.received();
    int tcp = 0;
    for (const auto& r : got) {
        EXPECT_EQ(r.peerAddress, "127.0.0.1");
        EXPECT_EQ(r.data, block);
        tcp += r.transport == Transport::Tcp;
    }
    EXPECT_EQ(tcp, 1);
}

TEST(Net, listenerRefusesBusyAndInvalidPorts) {
    const int port = test::freePort();
    net::UdpListener a, b;
    ASSERT_TRUE(a.open(port));
    EXPECT_FALSE(b.open(port));
    net::TcpListener t1, t2;
    ASSERT_TRUE(t1.open(port));
    EXPECT_FALSE(t2.open(port));
    EXPECT_FALSE(b.open(65536));
    EXPECT_FALSE(b.open(-1));
}

TEST(Net, tcpConnectToClosedPortFailsAndUdpCutsLongDatagrams) {
    const int port = test::freePort();
    EXPECT_EQ(net::openConnection("127.0.0.1", port, Transport::Tcp), nullptr);
    EXPECT_EQ(net::openConnection("no-such-host.invalid", port, Transport::Udp), nullptr);

    net::UdpListener udp;
    ASSERT_TRUE(udp.open(port));
    std::vector<std::uint8_t> big(3000, 7);
    ASSERT_TRUE(net::sendBlock("127.0.0.1", port, Transport::Udp, big));
    std::optional<net::Received> r;
    ASSERT_TRUE(test::waitFor([&] { return (r = udp.poll(1297)).has_value(); }));
    EXPECT_EQ(r->data.size(), 1297u);
    EXPECT_FALSE(udp.poll(1297).has_value());
}

TEST(Net, tcpPollReadsAWholePacketSentInPieces) {
    const int port = test::freePort();
    net::TcpListener tcp;
    ASSERT_TRUE(tcp.open(port));
    auto conn = net::openConnection("127.0.0.1", port, Transport::Tcp);
    ASSERT_NE(conn, nullptr);
    std::thread writer([&] {
        std::vector<std::uint8_t> part(600, 1);
        conn->send(part);
        std::this_thread::sleep_for(100ms);
        part.assign(697, 2);
        conn->send(part);
        std::this_thread::sleep_for(300ms);
        conn->close();
    });
    std::optional<net::Received> r;
    ASSERT_TRUE(test::waitFor([&] { return (r = tcp.poll(1297)).has_value(); }));
    writer.join();
    EXPECT_EQ(r->data.size(), 1297u);
    EXPECT_EQ(r->data.back(), 2);
}

TEST(Net, tcpPollGivesUpOnAStalledPeer) {
    const int port = test::freePort();
    net::TcpListener tcp;
    ASSERT_TRUE(tcp.open(port));
    auto conn = net::openConnection("127.0.0.1", port, Transport::Tcp);
    ASSERT_NE(conn, nullptr);
    std::vector<std::uint8_t> part(10, 3);
    conn->send(part);
    std::optional<net::Received> r;
    ASSERT_TRUE(test::waitFor([&] { return (r = tcp.poll(1297, 300ms)).has_value(); }));
    EXPECT_EQ(r->data.size(), 10u);
}

TEST(Net, udpSenderServesManyTargetsFromOneSocket) {
    test::TestPeer a, b;
    net::UdpSender sender;
    const std::vector<std::uint8_t> block(1297, 0x42);
    EXPECT_TRUE(sender.sendTo("127.0.0.1", a.port(), block));
    EXPECT_TRUE(sender.sendTo("localhost", b.port(), block));
    EXPECT_TRUE(sender.sendTo("127.0.0.2", a.port(), block));
    EXPECT_FALSE(sender.sendTo("127.0.0.1", 65536, block));
    EXPECT_FALSE(sender.sendTo("no-such-host.invalid", a.port(), block));
    ASSERT_TRUE(a.waitForCount(2));
    ASSERT_TRUE(b.waitForCount(1));
    EXPECT_EQ(a.received()[0].data, block);
    EXPECT_EQ(b.received()[0].data, block);
}
