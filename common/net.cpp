#include "common/net.h"

#include <asio.hpp>
#include <charconv>

namespace tw::net {

namespace {

asio::io_context& threadContext() {
    // One context per thread: the blocking operations below run it briefly with a time
    // limit, and contexts must not be run from two threads for this purpose at once.
    thread_local asio::io_context ctx;
    return ctx;
}

std::optional<asio::ip::address_v4> resolveV4(std::string_view host) {
    std::uint8_t b[4];
    if (parseIPv4(host, b)) return asio::ip::address_v4({b[0], b[1], b[2], b[3]});
    std::error_code ec;
    asio::ip::udp::resolver resolver(threadContext());
    auto results = resolver.resolve(asio::ip::udp::v4(), std::string(host), "", ec);
    if (ec || results.empty()) return std::nullopt;
    return results.begin()->endpoint().address().to_v4();
}

bool validPort(int port) { return port >= 0 && port <= 65535; }

}  // namespace

bool parseIPv4(std::string_view text, std::uint8_t out[4]) {
    int part = 0;
    std::size_t i = 0;
    while (part < 4) {
        std::size_t start = i;
        unsigned value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            ++i;
        }
        if (i == start || value > 255) return false;
        out[part++] = static_cast<std::uint8_t>(value);
        if (part < 4) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
    }
    return i == text.size();
}

struct Connection::Impl {
    Transport transport;
    asio::ip::tcp::socket tcp{threadContext()};
    asio::ip::udp::socket udp{threadContext()};
    asio::ip::udp::endpoint target;
};

Connection::Connection(std::unique_ptr<Impl> impl) : d_(std::move(impl)) {}
Connection::~Connection() { close(); }

Transport Connection::transport() const { return d_->transport; }

bool Connection::send(std::span<const std::uint8_t> bytes) {
    std::error_code ec;
    if (d_->transport == Transport::Tcp) {
        if (!d_->tcp.is_open()) return false;
        asio::write(d_->tcp, asio::buffer(bytes.data(), bytes.size()), ec);
    } else {
        if (!d_->udp.is_open()) return false;
        d_->udp.send_to(asio::buffer(bytes.data(), bytes.size()), d_->target, 0, ec);
    }
    return !ec;
}

void Connection::close() {
    std::error_code ec;
    if (d_->tcp.is_open()) {
        d_->tcp.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
        d_->tcp.close(ec);
    }
    if (d_->udp.is_open()) d_->udp.close(ec);
}

std::unique_ptr<Connection> openConnection(std::string_view host, int port, Transport transport,
                                           std::chrono::milliseconds timeout) {
    if (!validPort(port)) return nullptr;
    const auto addr = resolveV4(host);
    if (!addr) return nullptr;
    auto impl = std::make_unique<Connection::Impl>();
    impl->transport = transport;
    std::error_code ec;
    if (transport == Transport::Udp) {
        impl->udp.open(asio::ip::udp::v4(), ec);
        if (ec) return nullptr;
        impl->udp.set_option(asio::socket_base::broadcast(true), ec);
        impl->target = asio::ip::udp::endpoint(*addr, static_cast<unsigned short>(port));
        return std::make_unique<Connection>(std::move(impl));
    }

    auto& ctx = threadContext();
    ctx.restart();
    std::error_code result = asio::error::timed_out;
    bool done = false;
    impl->tcp.async_connect(asio::ip::tcp::endpoint(*addr, static_cast<unsigned short>(port)),
                            [&](const std::error_code& e) {
                                result = e;
                                done = true;
                            });
    ctx.run_for(timeout);
    if (!done) {
        impl->tcp.close(ec);  // cancels the connect; let its handler run before we return
        ctx.restart();
        ctx.run();
        return nullptr;
    }
    if (result) return nullptr;
    impl->tcp.set_option(asio::ip::tcp::no_delay(true), ec);
    return std::make_unique<Connection>(std::move(impl));
}

bool sendBlock(std::string_view host, int port, Transport transport,
               std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) {
    auto conn = openConnection(host, port, transport, timeout);
    if (!conn) return false;
    conn->send(bytes);
    conn->close();
    return true;
}

// ---------------------------------------------------------------------------------------------

struct UdpSender::Impl {
    asio::ip::udp::socket socket{threadContext()};
};

UdpSender::UdpSender() : d_(std::make_unique<Impl>()) {}
UdpSender::~UdpSender() {
    std::error_code ec;
    d_->socket.close(ec);
}

bool UdpSender::sendTo(std::string_view host, int port, std::span<const std::uint8_t> bytes) {
    if (!validPort(port)) return false;
    const auto addr = resolveV4(host);
    if (!addr) return false;
    std::error_code ec;
    if (!d_->socket.is_open()) {
        d_->socket.open(asio::ip::udp::v4(), ec);
        if (!ec) d_->socket.set_option(asio::socket_base::broadcast(true), ec);
        if (ec) {
            d_->socket.close(ec);
            return false;
        }
    }
    d_->socket.send_to(asio::buffer(bytes.data(), bytes.size()),
                       asio::ip::udp::endpoint(*addr, static_cast<unsigned short>(port)), 0, ec);
    return !ec;
}

// ---------------------------------------------------------------------------------------------

struct UdpListener::Impl {
    asio::io_context ctx;
    asio::ip::udp::socket socket{ctx};
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(65536);
};

UdpListener::UdpListener() : d_(std::make_unique<Impl>()) {}
UdpListener::~UdpListener() = default;

bool UdpListener::open(int port) {
    close();
    if (!validPort(port)) return false;
    std::error_code ec;
    d_->socket.open(asio::ip::udp::v4(), ec);
    if (!ec) d_->socket.bind({asio::ip::address_v4::any(), static_cast<unsigned short>(port)}, ec);
    if (!ec) d_->socket.non_blocking(true, ec);
    if (ec) {
        close();
        return false;
    }
    return true;
}

bool UdpListener::isOpen() const { return d_->socket.is_open(); }

void UdpListener::close() {
    std::error_code ec;
    d_->socket.close(ec);
}

std::optional<Received> UdpListener::poll(std::size_t maxBytes) {
    if (!d_->socket.is_open()) return std::nullopt;
    asio::ip::udp::endpoint peer;
    std::error_code ec;
    // Read into a full-size buffer and cut afterwards: a datagram longer than the record
    // must not be reported as an error.
    const std::size_t n = d_->socket.receive_from(asio::buffer(d_->buffer), peer, 0, ec);
    if (ec) return std::nullopt;  // would block, or a stray ICMP error: nothing to read
    Received r;
    r.transport = Transport::Udp;
    r.peerAddress = peer.address().to_string();
    r.data.assign(d_->buffer.begin(), d_->buffer.begin() + std::min(n, maxBytes));
    return r;
}

// ---------------------------------------------------------------------------------------------

struct TcpListener::Impl {
    asio::io_context ctx;
    asio::ip::tcp::acceptor acceptor{ctx};
};

TcpListener::TcpListener() : d_(std::make_unique<Impl>()) {}
TcpListener::~TcpListener() = default;

bool TcpListener::open(int port) {
    close();
    if (!validPort(port)) return false;
    std::error_code ec;
    auto& a = d_->acceptor;
    a.open(asio::ip::tcp::v4(), ec);
    if (!ec) a.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) a.bind({asio::ip::address_v4::any(), static_cast<unsigned short>(port)}, ec);
    if (!ec) a.listen(100, ec);
    if (!ec) a.non_blocking(true, ec);
    if (ec) {
        close();
        return false;
    }
    return true;
}

bool TcpListener::isOpen() const { return d_->acceptor.is_open(); }

void TcpListener::close() {
    std::error_code ec;
    d_->acceptor.close(ec);
}

std::optional<Received> TcpListener::poll(std::size_t maxBytes,
                                          std::chrono::milliseconds readLimit) {
    if (!d_->acceptor.is_open()) return std::nullopt;
    std::error_code ec;
    asio::ip::tcp::socket sock(d_->ctx);
    asio::ip::tcp::endpoint peer;
    d_->acceptor.accept(sock, peer, ec);
    if (ec) return std::nullopt;
    Received r;
    r.transport = Transport::Tcp;
    r.peerAddress = peer.address().to_string();
    r.data.resize(maxBytes);

    // Read until the whole record is here or the peer has closed, but never wait longer
    // than the limit: a stalled peer must not hang the program.
    std::size_t got = 0;
    d_->ctx.restart();
    asio::async_read(sock, asio::buffer(r.data), asio::transfer_exactly(maxBytes),
                     [&](const std::error_code&, std::size_t n) { got = n; });
    d_->ctx.run_for(readLimit);
    if (!d_->ctx.stopped()) {
        sock.close(ec);
        d_->ctx.restart();
        d_->ctx.run();
    }
    r.data.resize(got);
    sock.close(ec);
    return r;
}

}  // namespace tw::net
