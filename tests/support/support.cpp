#include "tests/support/support.h"

#include <signal.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <array>
#include <asio.hpp>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace tw::test {

TempDir::TempDir()
    : dir_(std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                           QStringLiteral("/tellwick-test-XXXXXX"))) {
    if (!dir_->isValid()) throw std::runtime_error("cannot make a temporary folder");
    path_ = std::filesystem::path(dir_->path().toStdString());
}

// QTemporaryDir removes the folder with everything in it.
TempDir::~TempDir() = default;

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::filesystem::path binPath(const std::string& program) {
    const char* dir = std::getenv("TELLWICK_BIN_DIR");
    return std::filesystem::path(dir ? dir : "build/bin") / program;
}

Process::Process(const std::filesystem::path& program, Options options)
    : process_(std::make_unique<QProcess>()) {
    outFile_ = dir_ / "stdout";
    errFile_ = dir_ / "stderr";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& k : options.unsetEnv) env.remove(QString::fromStdString(k));
    for (const auto& [k, v] : options.env)
        env.insert(QString::fromStdString(k), QString::fromStdString(v));
    QStringList args;
    for (const auto& a : options.args) args << QString::fromStdString(a);

    process_->setProgram(QString::fromStdString(program.string()));
    process_->setArguments(args);
    process_->setProcessEnvironment(env);
    if (!options.workDir.empty())
        process_->setWorkingDirectory(QString::fromStdString(options.workDir.string()));
    // Output goes to files, so that it can be read while the child still runs and no event
    // loop is needed to collect it.
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->setStandardOutputFile(QString::fromStdString(outFile_.string()));
    process_->setStandardErrorFile(QString::fromStdString(errFile_.string()));
    // A group of its own: a terminal's Ctrl+C meant for the test run does not reach the child
    // first, and the test decides how it ends.
    process_->setChildProcessModifier([] { ::setpgid(0, 0); });
    process_->start();
    if (!process_->waitForStarted(30000)) {
        status_ = 127;  // as a shell reports a program it cannot run
        return;
    }
    pid_ = static_cast<int>(process_->processId());
}

Process::~Process() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        wait(std::chrono::seconds(5));
    }
}

bool Process::running() {
    if (status_) return false;
    if (process_->state() != QProcess::NotRunning && !process_->waitForFinished(0)) return true;
    status_ = process_->exitStatus() == QProcess::NormalExit ? process_->exitCode()
                                                             : 128 + process_->exitCode();
    return false;
}

std::optional<int> Process::wait(std::chrono::milliseconds timeout) {
    if (!status_ && process_->state() != QProcess::NotRunning)
        process_->waitForFinished(static_cast<int>(timeout.count()));
    running();
    return status_;
}

void Process::signal(int sig) {
    if (running()) ::kill(pid_, sig);
}

std::string Process::out() const { return readFile(outFile_); }
std::string Process::err() const { return readFile(errFile_); }

Process::Options withArgs(std::vector<std::string> args, std::map<std::string, std::string> env) {
    Process::Options o;
    o.args = std::move(args);
    o.env = std::move(env);
    return o;
}

std::vector<LoggedEvent> readEventLog(const std::filesystem::path& file) {
    std::vector<LoggedEvent> out;
    std::istringstream in(readFile(file));
    std::string line;
    while (std::getline(in, line)) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        LoggedEvent e;
        e.id = o.value(QStringLiteral("id")).toInt();
        e.source = o.value(QStringLiteral("source")).toString().toStdString();
        for (const auto& str : o.value(QStringLiteral("strings")).toArray())
            e.strings.push_back(str.toString().toStdString());
        out.push_back(std::move(e));
    }
    return out;
}

RunResult run(const std::filesystem::path& program, Process::Options options,
              std::chrono::milliseconds timeout) {
    Process p(program, std::move(options));
    RunResult r;
    const auto code = p.wait(timeout);
    r.code = code ? *code : -1000;
    r.out = p.out();
    r.err = p.err();
    return r;
}

int freePort() {
    static std::mt19937 rng(static_cast<unsigned>(getpid()) * 7919u +
                            static_cast<unsigned>(time(nullptr)));
    for (int attempt = 0; attempt < 200; ++attempt) {
        // Below the kernel's ephemeral range (32768 and up here): a port picked there can be
        // handed to some outgoing socket between this check and the test's own bind.
        const int port = 20000 + static_cast<int>(rng() % 12000);
        net::UdpListener u;
        net::TcpListener t;
        if (u.open(port) && t.open(port)) return port;
    }
    throw std::runtime_error("no free port");
}

TestPeer::TestPeer(int port, std::size_t maxBytes)
    : port_(port ? port : freePort()), maxBytes_(maxBytes) {
    if (!udp_.open(port_) || !tcp_.open(port_)) throw std::runtime_error("test peer cannot listen");
    thread_ = std::thread([this] {
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (stop_) return;
            }
            bool any = false;
            while (auto r = udp_.poll(maxBytes_)) {
                std::lock_guard lock(mutex_);
                got_.push_back(std::move(*r));
                any = true;
            }
            while (auto r = tcp_.poll(maxBytes_)) {
                std::lock_guard lock(mutex_);
                got_.push_back(std::move(*r));
                any = true;
            }
            if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
}

TestPeer::~TestPeer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    thread_.join();
}

std::vector<net::Received> TestPeer::received() const {
    std::lock_guard lock(mutex_);
    return got_;
}

std::size_t TestPeer::count() const {
    std::lock_guard lock(mutex_);
    return got_.size();
}

bool TestPeer::waitForCount(std::size_t n, std::chrono::milliseconds timeout) {
    return waitFor([&] { return count() >= n; }, timeout);
}

void TestPeer::clear() {
    std::lock_guard lock(mutex_);
    got_.clear();
}

struct DeafTcpPort::Impl {
    asio::io_context ctx;
    asio::ip::tcp::acceptor acceptor{ctx};
    std::unique_ptr<asio::ip::tcp::socket> filler;
};

DeafTcpPort::DeafTcpPort(const std::string& address, int port) : d_(std::make_unique<Impl>()) {
    const asio::ip::tcp::endpoint ep(asio::ip::make_address_v4(address),
                                     static_cast<unsigned short>(port));
    d_->acceptor.open(asio::ip::tcp::v4());
    d_->acceptor.bind(ep);
    d_->acceptor.listen(0);  // room for one connection, which the filler below takes
    d_->filler = std::make_unique<asio::ip::tcp::socket>(d_->ctx);
    d_->filler->connect(ep);
}

DeafTcpPort::~DeafTcpPort() = default;

struct TcpSink::Impl {
    asio::io_context ctx;
    asio::ip::tcp::acceptor acceptor{ctx};
    mutable std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> got;
    std::thread thread;

    void acceptNext() {
        auto sock = std::make_shared<asio::ip::tcp::socket>(ctx);
        acceptor.async_accept(*sock, [this, sock](const std::error_code& ec) {
            if (ec) return;
            readAll(sock, std::make_shared<std::vector<std::uint8_t>>());
            acceptNext();
        });
    }
    void readAll(const std::shared_ptr<asio::ip::tcp::socket>& sock,
                 const std::shared_ptr<std::vector<std::uint8_t>>& data) {
        auto buf = std::make_shared<std::array<std::uint8_t, 4096>>();
        sock->async_read_some(
            asio::buffer(*buf), [this, sock, data, buf](const std::error_code& ec, std::size_t n) {
                data->insert(data->end(), buf->begin(), buf->begin() + static_cast<long>(n));
                if (!ec) {
                    readAll(sock, data);
                    return;
                }
                std::lock_guard lock(mutex);
                got.push_back(*data);
            });
    }
};

TcpSink::TcpSink(const std::string& address, int port) : d_(std::make_unique<Impl>()) {
    const asio::ip::tcp::endpoint ep(asio::ip::make_address_v4(address),
                                     static_cast<unsigned short>(port));
    d_->acceptor.open(asio::ip::tcp::v4());
    d_->acceptor.set_option(asio::socket_base::reuse_address(true));
    d_->acceptor.bind(ep);
    d_->acceptor.listen();
    d_->acceptNext();
    d_->thread = std::thread([this] { d_->ctx.run(); });
}

TcpSink::~TcpSink() {
    d_->ctx.stop();
    d_->thread.join();
}

std::vector<std::vector<std::uint8_t>> TcpSink::received() const {
    std::lock_guard lock(d_->mutex);
    return d_->got;
}

bool TcpSink::waitForCount(std::size_t n, std::chrono::milliseconds timeout) {
    return waitFor([&] { return received().size() >= n; }, timeout);
}

}  // namespace tw::test
