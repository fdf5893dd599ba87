#pragma once
// Helpers shared by the tests: temporary folders, the real programs as child processes,
// free loopback ports and a test peer that stands in for a server or a client.
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/net.h"

class QProcess;
class QTemporaryDir;

namespace tw::test {

// A fresh folder in the temporary folder (mode 0700), removed with everything in it when the
// object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& p);
void writeFile(const std::filesystem::path& p, const std::string& bytes);

// Path of a program built into build/bin (TELLWICK_BIN_DIR set by CTest).
std::filesystem::path binPath(const std::string& program);

// A child process (QProcess) with its standard output and error captured to files; usable
// without an event loop.
class Process {
public:
    struct Options {
        std::vector<std::string> args;           // without the program itself
        std::map<std::string, std::string> env;  // added to (or replacing) the parent's
        std::vector<std::string> unsetEnv;
        std::filesystem::path workDir;  // empty: the current folder
    };
    Process(const std::filesystem::path& program, Options options);
    ~Process();  // kills the child if it still runs

    // Waits for the end; nullopt on time-out. The value is the exit code, or 128 + signal.
    std::optional<int> wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool running();
    void signal(int sig);
    int pid() const { return pid_; }
    std::string out() const;
    std::string err() const;

private:
    TempDir dir_;
    std::filesystem::path outFile_, errFile_;
    std::unique_ptr<QProcess> process_;
    int pid_ = -1;
    std::optional<int> status_;
};

// Options with just arguments (and extra environment variables).
Process::Options withArgs(std::vector<std::string> args,
                          std::map<std::string, std::string> env = {});

// Runs a program to its end and returns (exit code, stdout, stderr).
struct RunResult {
    int code = -1000;
    std::string out, err;
};
RunResult run(const std::filesystem::path& program, Process::Options options,
              std::chrono::milliseconds timeout = std::chrono::seconds(30));

// One record of an event log written as JSON lines (TELLWICK_EVENTLOG).
struct LoggedEvent {
    int id = 0;
    std::string source;
    std::vector<std::string> strings;
};
std::vector<LoggedEvent> readEventLog(const std::filesystem::path& file);

// A port on 127.0.0.1 that is free for both UDP and TCP at the time of the call.
int freePort();

// Polls `pred` every 10 ms until it is true or `timeout` has passed.
template <class Pred>
bool waitFor(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Listens on one port over UDP and TCP on a thread of its own and keeps every block it
// receives, in arrival order.
class TestPeer {
public:
    explicit TestPeer(int port = 0, std::size_t maxBytes = 65536);
    ~TestPeer();
    int port() const { return port_; }
    std::vector<net::Received> received() const;
    std::size_t count() const;
    // Waits until at least n blocks have arrived.
    bool waitForCount(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void clear();

private:
    int port_;
    std::size_t maxBytes_;
    net::UdpListener udp_;
    net::TcpListener tcp_;
    mutable std::mutex mutex_;
    std::vector<net::Received> got_;
    bool stop_ = false;
    std::thread thread_;
};

// A TCP port on `address` that takes no connection: its backlog is full, so a connect waits
// until its time-out, as one to a switched-off workstation does.
class DeafTcpPort {
public:
    DeafTcpPort(const std::string& address, int port);
    ~DeafTcpPort();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Takes TCP connections on one address only (so other 127.x addresses keep the same port for
// themselves) and keeps what each connection sent, in the order they closed.
class TcpSink {
public:
    TcpSink(const std::string& address, int port);
    ~TcpSink();
    std::vector<std::vector<std::uint8_t>> received() const;
    bool waitForCount(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace tw::test
