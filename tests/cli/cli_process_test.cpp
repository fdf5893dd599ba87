// The real program against listeners on loopback: every address of 127.0.0.0/8 lands here.
#include <gtest/gtest.h>

#include "common/auth.h"
#include "common/net.h"
#include "common/packets.h"
#include "common/platform/host_names.h"
#include "common/text.h"
#include "tests/support/support.h"

using namespace tw;

namespace {

test::RunResult runCli(std::vector<std::string> args) {
    test::Process::Options options;
    options.args = std::move(args);
    return test::run(test::binPath("tellwick_cli"), options);
}

// Sends a marker behind the program's packets and waits for it: whatever the program sent
// over UDP has been taken by the peer by then, so counts can be compared without guessing
// at a time.
std::vector<net::Received> drain(test::TestPeer& peer) {
    const std::vector<std::uint8_t> marker{'E', 'N', 'D'};
    EXPECT_TRUE(net::sendBlock("127.0.0.1", peer.port(), Transport::Udp, marker));
    EXPECT_TRUE(test::waitFor([&] {
        const auto got = peer.received();
        return !got.empty() && got.back().data == marker;
    }));
    auto got = peer.received();
    if (!got.empty() && got.back().data == marker) got.pop_back();
    return got;
}

}  // namespace

TEST(CliProcess, udpMessageArrivesWithEveryField) {
    test::TestPeer peer;
    const auto r = runCli(
        {"-a", "127.0.0.1", "-t", "\"test message|line 2\"", "-p", std::to_string(peer.port())});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Sending... 0%\nSending... 50%\nSending finished.\n");
    const auto got = drain(peer);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].transport, Transport::Udp);
    ASSERT_EQ(got[0].data.size(), kMessagePacketSize);
    const auto p = MessagePacket::parse(got[0].data);
    EXPECT_EQ(p.language, u"RU");
    EXPECT_EQ(utf16ToUtf8(p.serverName), platform::netbiosName());
    EXPECT_EQ(p.msgText, u"test message\nline 2");
    EXPECT_EQ(p.systemMessage, 0);
    EXPECT_EQ(p.msgGuid, p.msgRootId);
    // One send action: its identifier is the clock's, taken while the program ran.
    const auto id = std::stoll(utf16ToUtf8(p.msgRootId));
    EXPECT_NEAR(static_cast<double>(id), std::stod(utf16ToUtf8(makeMsgRootId())), 60.0);
}

TEST(CliProcess, rangeOverLoopbackSendsOnePacketPerAddress) {
    for (const char* mode : {"udp", "tcp"}) {
        test::TestPeer peer;
        const auto r = runCli({"--address=127.0.0.1-127.0.0.10,localhost", "--text=1+1=2",
                               "--mode=" + std::string(mode), "--language=en",
                               "--port=" + std::to_string(peer.port())});
        EXPECT_EQ(r.code, 0) << mode;
        // Eleven addresses: T 12, step 2.
        EXPECT_EQ(r.out,
                  "Sending... 0%\nSending... 17%\nSending... 33%\nSending... 50%\n"
                  "Sending... 67%\nSending... 83%\nSending finished.\n")
            << mode;
        ASSERT_TRUE(peer.waitForCount(11)) << mode;
        const auto got = drain(peer);
        ASSERT_EQ(got.size(), 11u) << mode;
        for (const auto& g : got) {
            EXPECT_EQ(g.transport, std::string(mode) == "tcp" ? Transport::Tcp : Transport::Udp);
            const auto p = MessagePacket::parse(g.data);
            EXPECT_EQ(g.data.size(), kMessagePacketSize);
            EXPECT_EQ(p.language, u"EN");
            EXPECT_EQ(p.msgText, u"1+1=2");
            EXPECT_EQ(p.msgRootId, MessagePacket::parse(got[0].data).msgRootId);
        }
    }
}

TEST(CliProcess, errorsEndWithMinusOneAndSendNothing) {
    test::TestPeer peer;
    const std::string port = std::to_string(peer.port());
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"-a", "127.0.0.1,127.0.0.5-127.0.0.1", "-t", "x", "-p", port},
         "\nIncorrect address: check address parameter.\n"},
        {{"-a", "127.0.0.1", "-t", "x", "-p", port, "-m", "sctp"},
         "Unknown protocol: sctp\n\nUsage: tellwick_cli [OPTION]...\n"
         "Try 'tellwick_cli --help' for more information.\n"},
    };
    for (const auto& c : cases) {
        const auto r = runCli(c.args);
        EXPECT_EQ(r.code, 255);  // -1 as the system reports it
        EXPECT_EQ(r.out, c.out);
    }
    EXPECT_TRUE(drain(peer).empty());
}

TEST(CliProcess, unreachableTcpClientIsSkippedSilently) {
    const int closed = test::freePort();
    const auto r =
        runCli({"-a", "127.0.0.1,127.0.0.2", "-t", "x", "-m", "tcp", "-p", std::to_string(closed)});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Sending... 0%\nSending... 33%\nSending... 67%\nSending finished.\n");
    EXPECT_TRUE(r.err.empty());
}

// Switched-off workstations before and after a running one: the attempts run side by side,
// so the running one gets its message while the others still wait for their time-outs.
TEST(CliProcess, tcpReachesTheRunningWorkstationWhileTheSilentOnesStillWait) {
    const int port = test::freePort();
    test::DeafTcpPort s2("127.0.0.2", port), s3("127.0.0.3", port), s5("127.0.0.5", port);
    test::TcpSink running("127.0.0.4", port);
    test::Process cli(test::binPath("tellwick_cli"),
                      test::withArgs({"-a", "127.0.0.2,127.0.0.3,127.0.0.4,127.0.0.5,127.0.0.6",
                                      "-t", "x", "-m", "tcp", "-p", std::to_string(port)}));
    ASSERT_TRUE(running.waitForCount(1));
    EXPECT_TRUE(cli.running()) << "the silent workstations are still being waited for";
    EXPECT_EQ(MessagePacket::parse(running.received()[0]).msgText, u"x");
    EXPECT_EQ(cli.wait(), 0);
    EXPECT_EQ(cli.out(),
              "Sending... 0%\nSending... 17%\nSending... 33%\nSending... 50%\nSending... 67%\n"
              "Sending... 83%\nSending finished.\n");
}

// The real program with a key: over both transports every packet carries a signature that
// the public key verifies; a key it cannot use ends it with -1 before anything is sent.
TEST(CliProcess, keyedProgramSignsOverBothTransportsAndRefusesABadKey) {
    test::TempDir keys;
    const auto made = runCli({"--generate-keys=" + keys.path().string()});
    ASSERT_EQ(made.code, 0) << made.out << made.err;
    const auto pub = auth::readKeyFile(keys / "operator.pub", auth::KeyKind::OperatorPublic);
    ASSERT_TRUE(pub.key) << pub.error;
    for (const char* mode : {"udp", "tcp"}) {
        test::TestPeer peer;
        const auto r =
            runCli({"-a", "127.0.0.1-127.0.0.3", "-t", "signed", "-m", mode, "-p",
                    std::to_string(peer.port()), "-k", (keys / "operator.key").string()});
        ASSERT_EQ(r.code, 0) << r.out << r.err;
        ASSERT_TRUE(peer.waitForCount(3)) << mode;
        const auto got = drain(peer);
        ASSERT_EQ(got.size(), 3u) << mode;
        auth::ReplayGuard guard;
        for (const auto& g : got) {
            EXPECT_EQ(auth::verify(g.data, kMessagePacketSize, *pub.key, guard, auth::nowMs()),
                      auth::Verdict::Ok)
                << mode;
            EXPECT_EQ(MessagePacket::parse(g.data).msgText, u"signed");
        }
    }

    test::TestPeer peer;
    const std::string wrongKind = (keys / "office.key").string();
    const auto bad = runCli({"-a", "127.0.0.1", "-t", "x", "-p", std::to_string(peer.port()),
                             "--key-file=" + wrongKind});
    EXPECT_EQ(bad.code, 255);
    EXPECT_EQ(bad.out, "Cannot use the key file: " + wrongKind +
                           ": a key of the wrong kind (TELLWICK OFFICE KEY, not TELLWICK "
                           "OPERATOR SECRET KEY)\n");
    EXPECT_TRUE(drain(peer).empty());
}
