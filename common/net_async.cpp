#include "common/net_async.h"

#include <asio.hpp>
#include <atomic>
#include <deque>
#include <map>

namespace tw::net {

namespace {

bool validPort(int port) { return port >= 0 && port <= 65535; }

}  // namespace

// ---------------------------------------------------------------------------------------------

struct PacketReceiver::Impl {
    Impl(std::size_t max, std::chrono::milliseconds limit) : maxBytes(max), readLimit(limit) {}

    // One read of one accepted TCP connection, with its own deadline.
    struct TcpRead {
        TcpRead(asio::io_context& ctx, std::size_t size) : socket(ctx), timer(ctx), data(size) {}
        asio::ip::tcp::socket socket;
        asio::steady_timer timer;
        std::vector<std::uint8_t> data;
        std::string peer;
        std::size_t got = 0;
        bool done = false;
    };

    const std::size_t maxBytes;
    const std::chrono::milliseconds readLimit;
    asio::io_context ctx;
    asio::ip::udp::socket udp{ctx};
    asio::ip::tcp::acceptor acceptor{ctx};
    std::vector<std::uint8_t> datagram = std::vector<std::uint8_t>(65536);
    asio::ip::udp::endpoint datagramPeer;
    std::size_t openReads = 0;
    bool accepting = false;
    bool armed = false;
    std::deque<Received> ready;
    std::atomic<bool> stopFlag{false};

    void receiveDatagram() {
        udp.async_receive_from(
            asio::buffer(datagram), datagramPeer, [this](const std::error_code& ec, std::size_t n) {
                if (ec == asio::error::operation_aborted || !udp.is_open()) return;
                if (!ec) {
                    // Read into a full-size buffer and cut afterwards: a datagram longer than
                    // the record must not be reported as an error.
                    Received r;
                    r.transport = Transport::Udp;
                    r.peerAddress = datagramPeer.address().to_string();
                    r.data.assign(datagram.begin(), datagram.begin() + std::min(n, maxBytes));
                    ready.push_back(std::move(r));
                }
                // An error here is a stray ICMP report for an earlier send: nothing to read.
                receiveDatagram();
            });
    }

    void acceptNext() {
        // Past the limit the connections wait in the listen backlog until a read ends, so a
        // flood of silent peers cannot use up the descriptors.
        if (accepting || openReads >= kMaxOpenTcpReads || !acceptor.is_open()) return;
        accepting = true;
        auto read = std::make_shared<TcpRead>(ctx, maxBytes);
        acceptor.async_accept(read->socket, [this, read](const std::error_code& ec) {
            accepting = false;
            if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
            if (!ec) startRead(read);
            acceptNext();
        });
    }

    void startRead(const std::shared_ptr<TcpRead>& read) {
        std::error_code ec;
        const auto peer = read->socket.remote_endpoint(ec);
        if (ec) return;  // gone again before we looked
        read->peer = peer.address().to_string();
        ++openReads;
        read->timer.expires_after(readLimit);
        read->timer.async_wait([read](const std::error_code& e) {
            if (e) return;
            std::error_code ignored;
            read->socket.close(ignored);  // ends the read below with what has arrived
        });
        // Read until the whole record is here or the peer has closed, but never longer than
        // the limit: a stalled peer must not hold the port.
        asio::async_read(read->socket, asio::buffer(read->data), asio::transfer_exactly(maxBytes),
                         [this, read](const std::error_code&, std::size_t n) {
                             read->got = n;
                             finishRead(read);
                         });
    }

    void finishRead(const std::shared_ptr<TcpRead>& read) {
        if (read->done) return;
        read->done = true;
        read->timer.cancel();
        std::error_code ec;
        read->socket.close(ec);
        --openReads;
        if (acceptor.is_open()) {
            Received r;
            r.transport = Transport::Tcp;
            r.peerAddress = read->peer;
            read->data.resize(read->got);
            r.data = std::move(read->data);
            ready.push_back(std::move(r));
        }
        acceptNext();
    }
};

PacketReceiver::PacketReceiver(std::size_t maxBytes, std::chrono::milliseconds tcpReadLimit)
    : d_(std::make_unique<Impl>(maxBytes, tcpReadLimit)) {}

PacketReceiver::~PacketReceiver() { close(); }

bool PacketReceiver::open(int port) {
    close();
    if (!validPort(port)) return false;
    std::error_code ec;
    auto& u = d_->udp;
    u.open(asio::ip::udp::v4(), ec);
    if (!ec) u.bind({asio::ip::address_v4::any(), static_cast<unsigned short>(port)}, ec);
    if (ec) {
        close();
        return false;
    }
    auto& a = d_->acceptor;
    a.open(asio::ip::tcp::v4(), ec);
    if (!ec) a.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) a.bind({asio::ip::address_v4::any(), static_cast<unsigned short>(port)}, ec);
    if (!ec) a.listen(100, ec);
    if (ec) {
        close();
        return false;
    }
    return true;
}

bool PacketReceiver::isOpen() const { return d_->udp.is_open() && d_->acceptor.is_open(); }

void PacketReceiver::close() {
    std::error_code ec;
    d_->udp.close(ec);
    d_->acceptor.close(ec);
    // Let the cancelled operations finish, so nothing refers to the sockets any more.
    d_->ctx.restart();
    d_->ctx.poll();
    d_->armed = false;
    d_->ready.clear();
}

std::vector<Received> PacketReceiver::wait(std::size_t limit) {
    auto& d = *d_;
    std::vector<Received> out;
    if (!isOpen() || limit == 0) return out;
    if (!d.armed) {
        d.armed = true;
        d.receiveDatagram();
        d.acceptNext();
    }
    if (d.ctx.stopped() && !d.stopFlag) d.ctx.restart();
    while (d.ready.empty() && !d.stopFlag) {
        if (d.ctx.run_one() == 0) {
            if (d.stopFlag) break;
            d.ctx.restart();
        }
    }
    // Take whatever else is already waiting: one packet per wake-up would let a burst of
    // answers overflow the socket buffer.
    while (d.ready.size() < limit && !d.stopFlag && d.ctx.poll_one() != 0) {
    }
    while (!d.ready.empty() && out.size() < limit) {
        out.push_back(std::move(d.ready.front()));
        d.ready.pop_front();
    }
    return out;
}

void PacketReceiver::stop() {
    d_->stopFlag = true;
    d_->ctx.stop();
}

bool PacketReceiver::stopped() const { return d_->stopFlag; }

// ---------------------------------------------------------------------------------------------

struct TcpFanOut::Impl {
    Impl(std::size_t max, std::chrono::milliseconds t)
        : maxInFlight(std::max<std::size_t>(1, max)), timeout(t) {}

    struct Attempt {
        Attempt(asio::io_context& ctx, std::size_t t) : tag(t), socket(ctx), timer(ctx) {}
        std::size_t tag;
        asio::ip::tcp::socket socket;
        asio::steady_timer timer;
        std::shared_ptr<asio::ip::tcp::resolver> resolver;
        std::vector<std::uint8_t> bytes;
        bool connected = false;
        bool over = false;
    };

    const std::size_t maxInFlight;
    const std::chrono::milliseconds timeout;
    asio::io_context ctx;
    std::map<std::size_t, std::shared_ptr<Attempt>> live;  // by a serial, not by tag
    std::size_t serial = 0;
    std::vector<Ended> ended;
    std::atomic<bool> interrupted{false};

    void finish(std::size_t id, bool sent) {
        const auto it = live.find(id);
        if (it == live.end()) return;
        auto a = it->second;
        live.erase(it);
        a->over = true;
        std::error_code ec;
        a->timer.cancel();
        if (a->resolver) a->resolver->cancel();
        if (a->socket.is_open()) {
            a->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
            a->socket.close(ec);
        }
        ended.push_back({a->tag, sent});
    }

    void connect(std::size_t id, const std::shared_ptr<Attempt>& a,
                 const asio::ip::tcp::endpoint& target) {
        a->socket.async_connect(target, [this, id, a](const std::error_code& ec) {
            if (a->over) return;
            if (ec) {
                finish(id, false);
                return;
            }
            a->connected = true;
            std::error_code ignored;
            a->socket.set_option(asio::ip::tcp::no_delay(true), ignored);
            asio::async_write(a->socket, asio::buffer(a->bytes),
                              [this, id, a](const std::error_code&, std::size_t) {
                                  // Connected is what counts: the bytes written are not
                                  // checked, as with a single connection.
                                  if (!a->over) finish(id, true);
                              });
        });
    }

    void drain() {
        if (ctx.stopped()) ctx.restart();
        while (ctx.poll() != 0) {
        }
    }
};

TcpFanOut::TcpFanOut(std::size_t maxInFlight, std::chrono::milliseconds timeout)
    : d_(std::make_unique<Impl>(maxInFlight, timeout)) {}

TcpFanOut::~TcpFanOut() { abandon(); }

bool TcpFanOut::full() const { return d_->live.size() >= d_->maxInFlight; }

std::size_t TcpFanOut::inFlight() const { return d_->live.size(); }

void TcpFanOut::start(std::size_t tag, std::string_view host, int port,
                      std::span<const std::uint8_t> bytes) {
    auto& d = *d_;
    const std::size_t id = d.serial++;
    auto a = std::make_shared<Impl::Attempt>(d.ctx, tag);
    d.live.emplace(id, a);
    std::uint8_t b[4];
    if (!validPort(port) || host.empty()) {
        d.finish(id, false);
        return;
    }
    a->bytes.assign(bytes.begin(), bytes.end());
    // The time-out covers the look-up of a name as well as the connect: one attempt never
    // costs more than its limit.
    a->timer.expires_after(d.timeout);
    a->timer.async_wait([&d, id, a](const std::error_code& ec) {
        if (!ec && !a->over) d.finish(id, a->connected);
    });
    const auto p = static_cast<unsigned short>(port);
    if (parseIPv4(host, b)) {
        d.connect(id, a,
                  asio::ip::tcp::endpoint(asio::ip::address_v4({b[0], b[1], b[2], b[3]}), p));
        return;
    }
    a->resolver = std::make_shared<asio::ip::tcp::resolver>(d.ctx);
    a->resolver->async_resolve(
        asio::ip::tcp::v4(), std::string(host), std::to_string(port),
        [&d, id, a](const std::error_code& ec, const asio::ip::tcp::resolver::results_type& res) {
            if (a->over) return;
            if (ec || res.empty()) {
                d.finish(id, false);
                return;
            }
            d.connect(id, a, *res.begin());
        });
}

std::vector<TcpFanOut::Ended> TcpFanOut::poll() {
    d_->drain();
    return std::exchange(d_->ended, {});
}

std::vector<TcpFanOut::Ended> TcpFanOut::wait() {
    auto& d = *d_;
    d.drain();
    while (d.ended.empty() && !d.live.empty()) {
        // interrupt() sets the flag before it stops the context, so a stop seen here with
        // the flag already taken is an old one.
        if (d.interrupted.exchange(false)) break;
        if (d.ctx.stopped()) {
            d.ctx.restart();
            continue;
        }
        d.ctx.run_one();
    }
    d.drain();
    return std::exchange(d.ended, {});
}

void TcpFanOut::interrupt() {
    d_->interrupted = true;
    d_->ctx.stop();
}

void TcpFanOut::abandon() {
    auto& d = *d_;
    std::vector<std::size_t> ids;
    for (const auto& [id, a] : d.live) ids.push_back(id);
    for (const auto id : ids) d.finish(id, false);
    d.ended.clear();
    // Run the cancelled handlers so none is left holding a socket of ours.
    if (d.ctx.stopped()) d.ctx.restart();
    while (d.ctx.poll() != 0) {
    }
}

void sendToAllTcp(const std::vector<std::string>& hosts, int port,
                  std::span<const std::uint8_t> bytes,
                  const std::function<void(std::size_t)>& started,
                  const std::function<void(std::size_t, bool)>& ended, std::size_t maxInFlight,
                  std::chrono::milliseconds timeout) {
    TcpFanOut fan(maxInFlight, timeout);
    const auto report = [&](const std::vector<TcpFanOut::Ended>& done) {
        if (!ended) return;
        for (const auto& e : done) ended(e.tag, e.sent);
    };
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        while (fan.full()) report(fan.wait());
        if (started) started(i);
        fan.start(i, hosts[i], port, bytes);
        report(fan.poll());
    }
    while (fan.inFlight() != 0) report(fan.wait());
}

}  // namespace tw::net
