#include "common/platform/qt/quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace tw::platform {
namespace {

int pipeFds[2] = {-1, -1};

int signalNumber(QuitSignal s) {
    switch (s) {
        case QuitSignal::Terminate:
            return SIGTERM;
        case QuitSignal::Interrupt:
            return SIGINT;
        case QuitSignal::HangUp:
            return SIGHUP;
    }
    return SIGTERM;
}

QuitSignal requestOf(int sig) {
    switch (sig) {
        case SIGINT:
            return QuitSignal::Interrupt;
        case SIGHUP:
            return QuitSignal::HangUp;
        default:
            return QuitSignal::Terminate;
    }
}

extern "C" void onQuitSignal(int sig) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    // A full pipe already holds a request: dropping this one loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(std::initializer_list<QuitSignal> watched,
                         std::function<void(QuitSignal)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeFds[0] = pipeFds[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(pipeFds[0], &byte, 1) == 1) {
            if (onSignal_) onSignal_(requestOf(byte));
        }
    });
    struct sigaction sa {};
    sa.sa_handler = onQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (QuitSignal request : watched) {
        if (count_ == static_cast<int>(std::size(signals_))) break;
        const int sig = signalNumber(request);
        if (::sigaction(sig, &sa, nullptr) == 0) signals_[count_++] = sig;
    }
}

QuitSignals::~QuitSignals() {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < count_; ++i) ::sigaction(signals_[i], &sa, nullptr);
}

}  // namespace tw::platform
