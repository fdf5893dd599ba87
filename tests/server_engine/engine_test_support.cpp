#include "tests/server_engine/engine_test_support.h"

#include <unistd.h>

#include <asio.hpp>
#include <cstdlib>
#include <fstream>

#include "common/platform/diagnostics.h"
#include "server/data/clients.h"

namespace tw::test {

namespace {

// The process works in a folder of its own: the debug log is written to the current folder.
const std::filesystem::path& workDir() {
    static TempDir dir;
    static bool ready = [] {
        std::filesystem::current_path(dir.path());
        const std::string log = (dir.path() / "events.jsonl").string();
        ::setenv("TELLWICK_EVENTLOG", log.c_str(), 1);
        char program[] = "tellwick_server";
        char flag[] = "--debug";
        char* argv[] = {program, flag, nullptr};
        tw::diag::setProgram(tw::diag::kServerIdentity);
        tw::diag::initDebugLog(2, argv);
        tw::diag::setEventLogSwitch(1);
        return true;
    }();
    (void)ready;
    return dir.path();
}

asio::ip::address_v4 v4(const std::string& a) { return asio::ip::make_address_v4(a); }

}  // namespace

FakeClient::Options clientAt(const char* address, int port, int serverPort, bool answersText) {
    FakeClient::Options o;
    o.address = address;
    o.port = port;
    o.serverPort = serverPort;
    o.name = std::string("PC-") + address;
    o.fqdn = o.name + ".EXAMPLE.TEST";
    o.answerText = answersText;
    return o;
}

std::string debugLogText() { return readFile(workDir() / "debug_server.log"); }
std::string eventLogText() {
    const auto p = workDir() / "events.jsonl";
    return std::filesystem::exists(p) ? readFile(p) : std::string();
}
void clearLogs() {
    writeFile(workDir() / "debug_server.log", "");
    std::filesystem::remove(workDir() / "events.jsonl");
}

void sendReportFrom(const std::string& from, int serverPort, const ReportPacket& report,
                    Transport transport) {
    asio::io_context ctx;
    const auto bytes = report.serialize();
    if (transport == Transport::Udp) {
        asio::ip::udp::socket s(ctx, asio::ip::udp::endpoint(v4(from), 0));
        s.send_to(
            asio::buffer(bytes),
            asio::ip::udp::endpoint(v4("127.0.0.1"), static_cast<unsigned short>(serverPort)));
    } else {
        asio::ip::tcp::socket s(ctx);
        s.open(asio::ip::tcp::v4());
        s.bind(asio::ip::tcp::endpoint(v4(from), 0));
        s.connect(
            asio::ip::tcp::endpoint(v4("127.0.0.1"), static_cast<unsigned short>(serverPort)));
        asio::write(s, asio::buffer(bytes));
        s.shutdown(asio::ip::tcp::socket::shutdown_both);
    }
}

// ---------------------------------------------------------------------------------------------

struct FakeClient::Impl {
    Options o;
    asio::io_context ctx;
    asio::ip::udp::socket udp{ctx};
    asio::ip::tcp::acceptor tcp{ctx};
    mutable std::mutex mutex;
    std::vector<MessagePacket> got;
    std::atomic<bool> stop{false};
    std::thread thread;

    void handle(const std::vector<std::uint8_t>& data, const std::string& peer, Transport t,
                const FakeClient& self) {
        const MessagePacket p = MessagePacket::parse(data);
        {
            std::lock_guard lock(mutex);
            got.push_back(p);
        }
        if (o.onPacket) return o.onPacket(p, peer, t);
        if (p.systemMessage & kSysClientDiscover) {
            if (o.answerProbes) self.answer(p, ReportKind::IAmHere, t);
        } else if (p.systemMessage & kSysClientCheck) {
            if (o.answerProbes) self.answer(p, ReportKind::Active, t);
        } else if (o.answerText) {
            self.answer(p, ReportKind::Delivered, t);
        }
    }
};

FakeClient::FakeClient(Options options) : d_(std::make_unique<Impl>()) {
    d_->o = std::move(options);
    const auto addr = v4(d_->o.address);
    const auto port = static_cast<unsigned short>(d_->o.port);
    d_->udp.open(asio::ip::udp::v4());
    d_->udp.set_option(asio::socket_base::reuse_address(true));
    d_->udp.bind({addr, port});
    d_->udp.non_blocking(true);
    d_->tcp.open(asio::ip::tcp::v4());
    d_->tcp.set_option(asio::socket_base::reuse_address(true));
    d_->tcp.bind({addr, port});
    d_->tcp.listen();
    d_->tcp.non_blocking(true);
    d_->thread = std::thread([this] {
        std::vector<std::uint8_t> buf(65536);
        while (!d_->stop) {
            bool any = false;
            std::error_code ec;
            asio::ip::udp::endpoint peer;
            const std::size_t n = d_->udp.receive_from(asio::buffer(buf), peer, 0, ec);
            if (!ec) {
                any = true;
                d_->handle({buf.begin(), buf.begin() + static_cast<long>(n)},
                           peer.address().to_string(), Transport::Udp, *this);
            }
            asio::ip::tcp::socket conn(d_->ctx);
            d_->tcp.accept(conn, ec);
            if (!ec) {
                any = true;
                conn.non_blocking(false);
                std::vector<std::uint8_t> data(kMessagePacketSize);
                const std::size_t got = asio::read(conn, asio::buffer(data), ec);
                data.resize(got);
                const std::string peerAddr = conn.remote_endpoint(ec).address().to_string();
                conn.close(ec);
                d_->handle(data, peerAddr, Transport::Tcp, *this);
            }
            if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
}

FakeClient::~FakeClient() {
    d_->stop = true;
    d_->thread.join();
}

std::vector<MessagePacket> FakeClient::received() const {
    std::lock_guard lock(d_->mutex);
    return d_->got;
}

std::size_t FakeClient::count() const {
    std::lock_guard lock(d_->mutex);
    return d_->got.size();
}

bool FakeClient::waitForCount(std::size_t n, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return count() >= n; }, timeout);
}

ReportPacket FakeClient::reportFor(const MessagePacket& answered, ReportKind mask) const {
    ReportPacket r;
    r.clientName = utf8ToUtf16(d_->o.name);
    r.clientFqdn = utf8ToUtf16(d_->o.fqdn);
    r.msgRootId = answered.msgRootId;
    r.msgGuid = answered.msgGuid;
    r.kind = mask;
    return r;
}

void FakeClient::answer(const MessagePacket& answered, ReportKind mask, Transport t) const {
    const std::string from = d_->o.address == "0.0.0.0" ? "127.0.0.1" : d_->o.address;
    sendReportFrom(from, d_->o.serverPort, reportFor(answered, mask), t);
}

// ---------------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------------

void EngineTest::SetUp() {
    workDir();
    clearLogs();
    cfg.PortListen = freePort();
    cfg.PortSender = freePort();
    cfg.Clients = QString::fromStdString((dir / "clients.xml").string());
    cfg.Broadcast_IP = QStringLiteral("127.255.255.255");
    cfg.Timer = 30;
    cfg.Measure = tw::server::TimeUnit::Seconds;
    texts.setLanguage(QStringLiteral("EN"), cfg.PortListen, nullptr);
    ctx.settings = &settings;
    ctx.hostName = QStringLiteral("TESTHOST");
}

void EngineTest::TearDown() { engine.reset(); }

void EngineTest::loadClients(const std::string& xmlBody) {
    writeFile(dir / "clients.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root config=\"3.1\">\n" + xmlBody +
                  "\n</root>\n");
    std::lock_guard lock(ctx.clientsLock);
    const auto r =
        tw::server::LoadClientsDatabase(dir / "clients.xml", ctx.tree.records(), nullptr, texts);
    ASSERT_EQ(r.status, tw::server::LoadResult::Status::Loaded) << r.message.toStdString();
    ctx.tree.rebuildIndex();
}

void EngineTest::setRecords(tw::server::ClientsList list) {
    std::lock_guard lock(ctx.clientsLock);
    ctx.tree.records() = std::move(list);
    ctx.tree.rebuildIndex();
}

void EngineTest::check(int index, tw::server::CheckMark mark) {
    std::lock_guard lock(ctx.clientsLock);
    ctx.tree.records()[static_cast<std::size_t>(index)].checkMark = mark;
}

void EngineTest::startEngine(tw::server::ServerEngine::Timing timing) {
    settings.replace(cfg);
    engine = std::make_unique<tw::server::ServerEngine>(ctx, texts);
    engine->setTiming(timing);
    auto* e = engine.get();
    using E = tw::server::ServerEngine;
    QObject::connect(e, &E::statusText, e, [this](const QString& s) { statuses << s; });
    QObject::connect(e, &E::sendButtonCaption, e, [this](const QString& s) { captions << s; });
    QObject::connect(e, &E::itemsChanged, e, [this](const QVector<int>&) { ++itemSignals; });
    QObject::connect(e, &E::clientsReloaded, e, [this] { ++reloads; });
    QObject::connect(e, &E::messageBox, e,
                     [this](const QString& t, const QString& s, tw::platform::BoxIcon) {
                         boxes << t + QStringLiteral(": ") + s;
                     });
    QObject::connect(e, &E::fatalError, e, [this](const QString& s, int) { fatals << s; });
    ASSERT_TRUE(engine->startListener());
}

tw::server::ClientRecord EngineTest::record(int index) {
    std::lock_guard lock(ctx.clientsLock);
    return ctx.tree.records().at(static_cast<std::size_t>(index));
}

}  // namespace tw::test
