#pragma once
// A worker thread owned by an object: when the owner lets it go, the thread is asked to stop
// (which wakes it from any wait) and joined. No thread outlives its owner, and stopping never
// depends on the order in which an owner's members are torn down.
#include <functional>
#include <thread>
#include <utility>

namespace tw::server::engine {

class Worker {
public:
    Worker() = default;
    // Runs `body` on a new thread; `requestStop` must make it return soon from any thread.
    template <class Body>
    Worker(Body&& body, std::function<void()> requestStop)
        : requestStop_(std::move(requestStop)), thread_(std::forward<Body>(body)) {}
    Worker(Worker&& other) noexcept = default;
    Worker& operator=(Worker&& other) noexcept {
        if (this != &other) {
            stopAndJoin();
            requestStop_ = std::move(other.requestStop_);
            thread_ = std::move(other.thread_);
        }
        return *this;
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { stopAndJoin(); }

    bool running() const { return thread_.joinable(); }
    // Waits for the thread to end of its own accord.
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    // Asks the thread to stop, then waits for it.
    void stopAndJoin() {
        if (!thread_.joinable()) return;
        if (requestStop_) requestStop_();
        thread_.join();
    }

private:
    std::function<void()> requestStop_;
    std::thread thread_;
};

}  // namespace tw::server::engine
