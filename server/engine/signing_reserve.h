#pragma once
// The operator key's signer and the thread that keeps its nonce points topped up, so that a
// signed mailing pass spends its time sending rather than signing. The thread works at the
// lowest priority and only while no pass runs: a pass that starts takes what is ready and
// signs the rest itself, and the thread goes on when the pass has ended.
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

#include "common/auth.h"
#include "server/engine/worker.h"

namespace tw::server::engine {

class SigningReserve {
public:
    // `wanted` tells how many points to keep (the number of clients); it is called on the
    // reserve's thread.
    SigningReserve(const auth::Key& operatorSecret, std::function<std::size_t()> wanted);
    SigningReserve(const SigningReserve&) = delete;
    SigningReserve& operator=(const SigningReserve&) = delete;

    auth::Signer& signer() { return signer_; }

    // Any thread. While at least one pass runs, no point is made.
    void passBegins();
    void passEnded();
    // Any thread: the number of clients may have changed, top up again.
    void topUp();

    // The reserve holds what `wanted` asked for (tests and the benchmark wait for it).
    bool full() const;

    // The most points kept (64 bytes each): offices larger than this sign the rest as they go.
    static constexpr std::size_t kMaxPoints = 262'144;

private:
    void run();
    std::size_t target() const;

    auth::Signer signer_;
    std::function<std::size_t()> wanted_;
    mutable std::mutex mutex_;  // never held while a point is made or `wanted` is asked
    std::condition_variable wake_;
    int passes_ = 0;
    bool again_ = true;  // top up when no pass runs
    bool quit_ = false;
    bool full_ = false;
    Worker thread_;  // last: it stops and ends before anything it uses goes
};

}  // namespace tw::server::engine
