#include "client/end_of_session.h"

#include <QGuiApplication>
#include <QSessionManager>

#include "common/platform/qt/quit_signals.h"

namespace tw::client {

EndOfSessionWatcher::EndOfSessionWatcher(QObject* parent) : QObject(parent) {
    using platform::QuitSignal;
    signals_ = new platform::QuitSignals(
        {QuitSignal::Terminate, QuitSignal::Interrupt, QuitSignal::HangUp},
        [this](QuitSignal) { emit requested(); }, this);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { emit requested(); });
    }
}

// The handlers go back to their default action before the watcher that answers them is gone.
EndOfSessionWatcher::~EndOfSessionWatcher() { delete signals_; }

}  // namespace tw::client
