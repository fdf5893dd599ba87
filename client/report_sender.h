#pragma once
// Reports leave the client on a thread of their own: a server that is slow to accept a
// connection (up to the 5 s connect time-out) must hold up neither the window nor the answers
// to anybody else. Reports to one destination (address, port and transport) go out one after
// another in the order they were queued; those to different destinations do not wait for
// each other.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "client/packet_handling.h"

namespace tw::client {

class ReportSender {
public:
    explicit ReportSender(std::chrono::milliseconds connectTimeout = std::chrono::seconds(5));
    // Abandons the connection attempts under way and whatever is still queued.
    ~ReportSender();
    ReportSender(const ReportSender&) = delete;
    ReportSender& operator=(const ReportSender&) = delete;

    // Queues one report; `logLine` goes to the debug log once the send was tried, whether or
    // not the connection could be opened. Never waits on the network.
    void send(const ReplyTarget& target, std::vector<std::uint8_t> bytes, std::string logLine);

private:
    struct Job {
        ReplyTarget target;
        std::vector<std::uint8_t> bytes;
        std::string logLine;
    };
    using Destination = std::tuple<std::string, int, Transport>;
    static Destination destinationOf(const ReplyTarget& t) {
        return {t.serverIp, t.port, t.transport};
    }
    void run();
    // Takes the queued jobs whose destination has nothing under way, oldest first.
    std::vector<Job> takeStartable();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stop_ = false;
    // Whether the worker sleeps on the queue; otherwise it is busy or sleeps on its connection
    // attempts, and a new job must interrupt those.
    bool onQueue_ = false;
    // Worker thread only: the destinations with an attempt under way, by the attempt's tag.
    std::map<std::size_t, std::pair<Destination, std::string>> underWay_;
    std::size_t nextTag_ = 0;
    struct Net;
    std::unique_ptr<Net> net_;
    std::thread thread_;
};

}  // namespace tw::client
