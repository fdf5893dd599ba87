#include "client/report_sender.h"

#include <set>

#include "common/net_async.h"
#include "common/platform/diagnostics.h"

namespace tw::client {

struct ReportSender::Net {
    explicit Net(std::chrono::milliseconds timeout)
        : tcp(net::TcpFanOut::kDefaultInFlight, timeout) {}
    net::UdpSender udp;
    net::TcpFanOut tcp;
};

ReportSender::ReportSender(std::chrono::milliseconds connectTimeout)
    : net_(std::make_unique<Net>(connectTimeout)), thread_([this] { run(); }) {}

ReportSender::~ReportSender() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    net_->tcp.interrupt();
    thread_.join();
}

void ReportSender::send(const ReplyTarget& target, std::vector<std::uint8_t> bytes,
                        std::string logLine) {
    bool onQueue = false;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back({target, std::move(bytes), std::move(logLine)});
        onQueue = onQueue_;
    }
    wake_.notify_one();
    // A worker that is not on the queue is about to sleep on its connection attempts, or does
    // already; the interruption holds until its next wait, so it cannot be missed.
    if (!onQueue) net_->tcp.interrupt();
}

std::vector<ReportSender::Job> ReportSender::takeStartable() {
    std::set<Destination> blocked;
    for (const auto& [tag, attempt] : underWay_) blocked.insert(attempt.first);
    std::vector<Job> out;
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        const Destination d = destinationOf(it->target);
        if (blocked.count(d)) {
            ++it;
            continue;
        }
        // A TCP report holds back the later ones to its destination until it has ended.
        if (it->target.transport == Transport::Tcp) blocked.insert(d);
        out.push_back(std::move(*it));
        it = jobs_.erase(it);
    }
    return out;
}

void ReportSender::run() {
    for (;;) {
        std::vector<Job> start;
        {
            std::unique_lock lock(mutex_);
            if (underWay_.empty()) wake_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
            if (stop_) break;
            start = takeStartable();
        }
        // No lock is held from here on: connection attempts are only started, never waited
        // for, and the waiting below is interruptible.
        for (Job& job : start) {
            if (job.target.transport == Transport::Udp) {
                net_->udp.sendTo(job.target.serverIp, job.target.port, job.bytes);
                diag::debugLog(job.logLine);
                continue;
            }
            const std::size_t tag = nextTag_++;
            underWay_[tag] = {destinationOf(job.target), std::move(job.logLine)};
            net_->tcp.start(tag, job.target.serverIp, job.target.port, job.bytes);
        }
        if (underWay_.empty()) continue;
        for (const net::TcpFanOut::Ended& e : net_->tcp.wait()) {
            const auto it = underWay_.find(e.tag);
            if (it == underWay_.end()) continue;
            diag::debugLog(it->second.second);
            underWay_.erase(it);
        }
    }
    net_->tcp.abandon();
}

}  // namespace tw::client
