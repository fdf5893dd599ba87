#include "client/report_sender.h"

#include "common/net_async.h"
#include "common/platform/diagnostics.h"

namespace tw::client {

struct ReportSender::Net {
    net::UdpSender udp;
    // One attempt at a time keeps the reports in order; the fan-out is used for its
    // interruptible wait, so that the end of a session never waits for a connect.
    net::TcpFanOut tcp{1, net::kConnectTimeout};
};

ReportSender::ReportSender() : net_(new Net), thread_([this] { run(); }) {}

ReportSender::~ReportSender() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    net_->tcp.interrupt();
    thread_.join();
    delete net_;
}

void ReportSender::send(const ReplyTarget& target, std::vector<std::uint8_t> bytes,
                        std::string logLine) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back({target, std::move(bytes), std::move(logLine)});
    }
    wake_.notify_one();
}

void ReportSender::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
            if (stop_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        // No lock is held from here on: the send may take seconds.
        if (job.target.transport == Transport::Udp) {
            net_->udp.sendTo(job.target.serverIp, job.target.port, job.bytes);
        } else {
            net_->tcp.start(0, job.target.serverIp, job.target.port, job.bytes);
            for (;;) {
                if (!net_->tcp.wait().empty()) break;
                std::lock_guard lock(mutex_);
                if (stop_) {
                    net_->tcp.abandon();
                    return;
                }
            }
        }
        diag::debugLog(job.logLine);
    }
}

}  // namespace tw::client
