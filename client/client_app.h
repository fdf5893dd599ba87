#pragma once
// The resident client: answers probes and repeats the moment they arrive, and shows text
// messages one at a time, in the order they came, each in its own window.
#include <QObject>
#include <QTimer>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/config.h"
#include "client/packet_handling.h"
#include "client/packet_pump.h"
#include "client/trust.h"
#include "client/window_text.h"
#include "common/auth.h"
#include "common/net.h"

namespace tw::client {

class MessageWindow;
class ReportSender;

struct MessageWindowOptions {
    std::chrono::milliseconds minuteInterval{60000};
    std::chrono::milliseconds keyGuard{1000};
    // Test hook: press OK by itself this long after the window is up.
    std::optional<std::chrono::milliseconds> autoConfirm;
};

class ClientApp : public QObject {
    Q_OBJECT
public:
    // Text messages waiting behind the one on screen; a flood beyond this is dropped, the
    // oldest messages kept.
    static constexpr std::size_t kMaxWaiting = 50;
    // How long a TCP peer may take to deliver its packet before we give up on it.
    static constexpr std::chrono::milliseconds kTcpReadLimit{2000};

    ClientApp(const ClientConfig& config, ClientNames names, ReportSender& reports,
              MessageWindowOptions options = {});
    ~ClientApp() override;

    // Packets as the network delivered them, in order, all taken at `arrival`.
    void handlePackets(const std::vector<net::Received>& packets, Clock::time_point arrival);
    // From now on every report carries a MAC under this office key.
    void setOfficeKey(auth::Key key) { officeKey_ = std::move(key); }
    // Packets refused before they reached us: told to the event log (event 105) at most
    // once a minute (options' minuteInterval), with how many there were since the last record.
    void noteRefused(std::size_t count, const std::string& lastPeer, const std::string& lastReason);
    // Event 103, then the event loop ends and the program exits with 0.
    void endSession();

    const std::u16string& lastConfirmedRootId() const { return lastConfirmed_; }
    std::size_t waitingCount() const { return waiting_.size(); }
    // The window on screen, if any.
    MessageWindow* window() const { return window_; }

private:
    struct Pending {
        MessagePacket packet;
        ReplyTarget target;
        Clock::time_point arrival;
    };

    void handle(const net::Received& received, Clock::time_point arrival);
    void report(const ReplyTarget& target, const MessagePacket& packet, ReportKind kind,
                const char* linePrefix = "");
    void showNext();
    void show(Pending pending);
    void onMinute();
    void armMinuteTimer();
    void onConfirmed();
    void tellRefused();

    ClientConfig config_;
    ClientNames names_;
    ReportSender& reports_;
    MessageWindowOptions options_;
    std::u16string lastConfirmed_;
    WindowWords words_;
    std::deque<Pending> waiting_;
    MessageWindow* window_ = nullptr;
    Pending shown_;
    QTimer minuteTimer_;
    int minuteCounter_ = 1;
    bool ending_ = false;
    std::optional<auth::Key> officeKey_;
    RejectionTally refused_;
    std::string lastRefusedPeer_, lastRefusedReason_;
    QTimer refusedTimer_;
};

}  // namespace tw::client
