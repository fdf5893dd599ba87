#pragma once
// The desktop session is ending (SIGTERM, SIGINT, SIGHUP, or the session manager asks): the
// client must note it and leave at once, whatever it is doing.
#include <QObject>

class QSocketNotifier;

namespace tw::client {

class EndOfSessionWatcher : public QObject {
    Q_OBJECT
public:
    // Installs the signal handlers; one watcher per process.
    explicit EndOfSessionWatcher(QObject* parent = nullptr);
    ~EndOfSessionWatcher() override;

signals:
    void requested();

private:
    void onSignalPipe();
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tw::client
