#include "client/end_of_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace tw::client {
namespace {

int gPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Only a write to the self-pipe happens here; the work is done in the event loop.
extern "C" void onEndSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

EndOfSessionWatcher::EndOfSessionWatcher(QObject* parent) : QObject(parent) {
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &EndOfSessionWatcher::onSignalPipe);
        struct sigaction sa = {};
        sa.sa_handler = onEndSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (int sig : kSignals) ::sigaction(sig, &sa, nullptr);
    }
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { emit requested(); });
    }
}

EndOfSessionWatcher::~EndOfSessionWatcher() {
    if (gPipe[0] < 0) return;
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals) ::sigaction(sig, &sa, nullptr);
    delete notifier_;
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

void EndOfSessionWatcher::onSignalPipe() {
    char buf[16];
    while (::read(gPipe[0], buf, sizeof buf) > 0) {
    }
    emit requested();
}

}  // namespace tw::client
