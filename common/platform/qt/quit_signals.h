#pragma once
// The system's requests to end the program (on POSIX the signals SIGTERM, SIGINT and SIGHUP)
// turned into a call on the event loop: the handler only writes into a self-pipe, and a socket
// notifier reads it there. The one signal watcher of the programs.
#include <QObject>
#include <functional>
#include <initializer_list>

class QSocketNotifier;

namespace tw::platform {

// The requests a program may watch for.
enum class QuitSignal {
    Terminate,  // SIGTERM: the system or another program ends this one
    Interrupt,  // SIGINT: Ctrl+C in a terminal
    HangUp,     // SIGHUP: the terminal or the session went away
};

class QuitSignals : public QObject {
public:
    // Installs the handlers; `onSignal` runs on the thread of `parent` (the event loop) with
    // the request that arrived. One instance at a time per process.
    QuitSignals(std::initializer_list<QuitSignal> watched, std::function<void(QuitSignal)> onSignal,
                QObject* parent = nullptr);
    ~QuitSignals() override;

    // False when the pipe could not be made; the signals then keep their default action.
    bool active() const { return notifier_ != nullptr; }

private:
    std::function<void(QuitSignal)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    int signals_[8] = {};
    int count_ = 0;
};

}  // namespace tw::platform
