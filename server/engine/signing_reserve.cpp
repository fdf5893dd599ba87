#include "server/engine/signing_reserve.h"

#include <algorithm>

#include "common/platform/thread_priority.h"

namespace tw::server::engine {

SigningReserve::SigningReserve(const auth::Key& operatorSecret,
                               std::function<std::size_t()> wanted)
    : signer_(operatorSecret), wanted_(std::move(wanted)) {
    thread_ = Worker([this] { run(); },
                     [this] {
                         {
                             std::lock_guard lock(mutex_);
                             quit_ = true;
                         }
                         wake_.notify_all();
                     });
}

void SigningReserve::passBegins() {
    std::lock_guard lock(mutex_);
    ++passes_;
}

void SigningReserve::passEnded() {
    {
        std::lock_guard lock(mutex_);
        passes_ = std::max(0, passes_ - 1);
        again_ = true;
        full_ = false;
    }
    wake_.notify_all();
}

void SigningReserve::topUp() {
    {
        std::lock_guard lock(mutex_);
        again_ = true;
        full_ = false;
    }
    wake_.notify_all();
}

bool SigningReserve::full() const {
    std::lock_guard lock(mutex_);
    return full_;
}

std::size_t SigningReserve::target() const {
    return std::min(wanted_ ? wanted_() : std::size_t{0}, kMaxPoints);
}

void SigningReserve::run() {
    tw::platform::lowerThisThreadsPriority();
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return quit_ || (again_ && passes_ == 0); });
            if (quit_) return;
            again_ = false;
        }
        const std::size_t limit = target();
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (quit_) return;
                // A pass began: the cores are its own; the end of the pass wakes us again.
                if (passes_ > 0) break;
            }
            if (!signer_.prepareOne(limit)) {
                std::lock_guard lock(mutex_);
                full_ = !again_;
                break;
            }
        }
    }
}

}  // namespace tw::server::engine
