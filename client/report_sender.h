#pragma once
// Reports leave the client on a thread of their own, one after another in the order they
// were queued: a server that is slow to accept a connection (up to the 5 s connect time-out)
// must not hold up the window or the answers to later packets being read.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/packet_handling.h"

namespace tw::client {

class ReportSender {
public:
    ReportSender();
    // Abandons a connection attempt under way and whatever is still queued.
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
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stop_ = false;
    struct Net;
    Net* net_;
    std::thread thread_;
};

}  // namespace tw::client
