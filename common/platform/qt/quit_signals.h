#pragma once
// Termination signals (SIGTERM, SIGINT, ...) turned into a call on the event loop: the handler
// only writes the signal number into a self-pipe, and a socket notifier reads it there.
#include <QObject>
#include <functional>
#include <initializer_list>

class QSocketNotifier;

namespace tw::platform {

class QuitSignals : public QObject {
public:
    // Installs the handlers; `onSignal` runs on the thread of `parent` (the event loop) with
    // the signal's number. One instance per process.
    QuitSignals(std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal,
                QObject* parent = nullptr);
    ~QuitSignals() override;

    // False when the pipe could not be made; the signals then keep their default action.
    bool active() const { return notifier_ != nullptr; }

private:
    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    int signals_[8] = {};
    int count_ = 0;
};

}  // namespace tw::platform
