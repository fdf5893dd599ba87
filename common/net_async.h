#pragma once
// Event-driven network pieces: a receiver that sleeps until a packet arrives, and a TCP
// fan-out that keeps many connection attempts in flight at once. Both run on the thread that
// calls their wait functions; only stop() and interrupt() may be called from another thread.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/net.h"

namespace tw::net {

// Listens on one port over UDP and TCP at once (all local IPv4 addresses). A TCP peer gets
// `tcpReadLimit` to deliver its bytes; many peers are read side by side, so a stalled one
// delays nobody else.
class PacketReceiver {
public:
    static constexpr std::size_t kMaxOpenTcpReads = 256;

    explicit PacketReceiver(std::size_t maxBytes,
                            std::chrono::milliseconds tcpReadLimit = std::chrono::seconds(2));
    ~PacketReceiver();
    PacketReceiver(const PacketReceiver&) = delete;
    PacketReceiver& operator=(const PacketReceiver&) = delete;

    // UDP first; when it fails the TCP port is not tried. False when either is unavailable.
    bool open(int port);
    bool isOpen() const;
    void close();

    // Sleeps until at least one packet has arrived or stop() was called, then returns every
    // packet that is waiting, at most `limit`. Empty only after stop(). A TCP connection
    // closed without a byte comes back with empty data, as a datagram without bytes does.
    std::vector<Received> wait(std::size_t limit = 1024);

    // Any thread: makes the current and every later wait() return at once.
    void stop();
    bool stopped() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// One block to many hosts over TCP: up to `maxInFlight` attempts at once, each with its own
// connect time-out, one attempt per start() and no retry. Computer names are looked up
// without holding up the attempts already under way.
class TcpFanOut {
public:
    static constexpr std::size_t kDefaultInFlight = 256;

    struct Ended {
        std::size_t tag = 0;  // as given to start()
        bool sent = false;    // connected and the block handed over
    };

    explicit TcpFanOut(std::size_t maxInFlight = kDefaultInFlight,
                       std::chrono::milliseconds timeout = kConnectTimeout);
    ~TcpFanOut();  // abandons the attempts in flight
    TcpFanOut(const TcpFanOut&) = delete;
    TcpFanOut& operator=(const TcpFanOut&) = delete;

    bool full() const;
    std::size_t inFlight() const;

    // Begins one attempt; never waits on the network. An address that cannot be used at all
    // (a bad port) ends at once with sent = false and comes back from the next poll or wait.
    void start(std::size_t tag, std::string_view host, int port,
               std::span<const std::uint8_t> bytes);

    // The attempts that have ended since the last call, without waiting.
    std::vector<Ended> poll();
    // Sleeps until an attempt ends (or interrupt()), then returns those that have ended.
    std::vector<Ended> wait();

    // Any thread: wakes a wait() at once, which then returns what has ended so far.
    void interrupt();
    // Closes every attempt in flight; none of them comes back.
    void abandon();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Sends the block to every host over TCP, attempts side by side as TcpFanOut makes them.
// `started(i)` is called in list order as the attempt for hosts[i] begins; `ended(i, sent)`
// as each attempt ends, in the order they end. Returns when the last attempt has ended.
void sendToAllTcp(const std::vector<std::string>& hosts, int port,
                  std::span<const std::uint8_t> bytes,
                  const std::function<void(std::size_t)>& started,
                  const std::function<void(std::size_t, bool)>& ended = {},
                  std::size_t maxInFlight = TcpFanOut::kDefaultInFlight,
                  std::chrono::milliseconds timeout = kConnectTimeout);

}  // namespace tw::net
