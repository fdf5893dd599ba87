#pragma once
// The network layer shared by the three programs. Operating-system socket calls stay behind
// this interface (it is built on standalone Asio), so the code above it builds unchanged on
// another system.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/packets.h"

namespace tw::net {

inline constexpr std::chrono::milliseconds kConnectTimeout{5000};

// An outgoing connection: a TCP stream, or a UDP socket aimed at one address. UDP sockets
// carry broadcast permission, so a broadcast address works like any other.
class Connection {
public:
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends the whole block in one send; false when the system refused it.
    bool send(std::span<const std::uint8_t> bytes);
    void close();
    Transport transport() const;

    struct Impl;
    explicit Connection(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> d_;
};

// Opens a connection to a dotted IPv4 address or a host name. For TCP the connect waits at
// most `timeout`; for UDP only the name lookup can fail. Returns null on failure.
std::unique_ptr<Connection> openConnection(std::string_view host, int port, Transport transport,
                                           std::chrono::milliseconds timeout = kConnectTimeout);

// Open, send one block, close. False when the connection could not be opened.
bool sendBlock(std::string_view host, int port, Transport transport,
               std::span<const std::uint8_t> bytes,
               std::chrono::milliseconds timeout = kConnectTimeout);

// One UDP socket that sends blocks to many addresses in turn: a sender with a long list
// saves a socket per address. Like a UDP Connection it may send to a broadcast address.
class UdpSender {
public:
    UdpSender();
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;
    // False when the host cannot be resolved, the port is invalid or the send was refused.
    bool sendTo(std::string_view host, int port, std::span<const std::uint8_t> bytes);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// One packet taken from a listener, with the dotted IPv4 address of its peer.
struct Received {
    Transport transport = Transport::Udp;
    std::string peerAddress;
    std::vector<std::uint8_t> data;
};

// UDP listener on all local IPv4 addresses; polled, never waited on.
class UdpListener {
public:
    UdpListener();
    ~UdpListener();
    // False when the port is busy, not available, or outside 0..65535.
    bool open(int port);
    bool isOpen() const;
    void close();
    // The next waiting datagram, cut to `maxBytes`; nothing when none is waiting.
    std::optional<Received> poll(std::size_t maxBytes);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// TCP listener on all local IPv4 addresses (backlog 100); polled, never waited on.
class TcpListener {
public:
    TcpListener();
    ~TcpListener();
    bool open(int port);
    bool isOpen() const;
    void close();
    // Accepts one waiting connection and reads from it until `maxBytes` have arrived, the
    // peer has closed, or `readLimit` has passed, then closes it. Nothing when no connection
    // is waiting.
    std::optional<Received> poll(std::size_t maxBytes,
                                 std::chrono::milliseconds readLimit = std::chrono::seconds(2));

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// True for four dotted decimal numbers 0..255 (leading zeros allowed).
bool parseIPv4(std::string_view text, std::uint8_t out[4]);

}  // namespace tw::net
