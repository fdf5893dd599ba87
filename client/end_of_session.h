#pragma once
// The desktop session is ending (SIGTERM, SIGINT, SIGHUP, or the session manager asks): the
// client must note it and leave at once, whatever it is doing.
#include <QObject>

namespace tw::platform {
class QuitSignals;
}

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
    platform::QuitSignals* signals_ = nullptr;
};

}  // namespace tw::client
