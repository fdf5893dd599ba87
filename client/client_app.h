#pragma once
// The resident loop: polls the two listeners, answers probes and repeats, and shows each
// text message in its own window, one at a time.
#include <QObject>
#include <QTimer>
#include <chrono>
#include <optional>
#include <string>

#include "client/config.h"
#include "client/packet_handling.h"
#include "client/window_text.h"
#include "common/net.h"

namespace tw::client {

struct MessageWindowOptions {
    std::chrono::milliseconds minuteInterval{60000};
    std::chrono::milliseconds keyGuard{1000};
    // Test hook: press OK by itself this long after the window is up.
    std::optional<std::chrono::milliseconds> autoConfirm;
};

class ClientApp : public QObject {
    Q_OBJECT
public:
    // Idle polling interval; a pass that handled a packet is followed by the next at once.
    static constexpr std::chrono::milliseconds kIdlePoll{40};
    // How long a TCP peer may take to deliver its packet before we give up on it.
    static constexpr std::chrono::milliseconds kTcpReadLimit{2000};

    ClientApp(const ClientConfig& config, ClientNames names, net::UdpListener& udp,
              net::TcpListener& tcp, MessageWindowOptions options = {});

    // Starts polling in the running event loop.
    void start();
    // One pass: UDP first, TCP only when no datagram was waiting. True when a packet was
    // handled.
    bool pass();
    // Event 103, then every event loop ends and the program exits with 0.
    void endSession();

    const std::u16string& lastConfirmedRootId() const { return lastConfirmed_; }

private:
    void handle(const net::Received& received);
    void report(const ReplyTarget& target, const MessagePacket& packet, std::uint8_t kind,
                const char* linePrefix = "");
    void showMessage(const MessagePacket& packet, const ReplyTarget& target);

    ClientConfig config_;
    ClientNames names_;
    net::UdpListener& udp_;
    net::TcpListener& tcp_;
    MessageWindowOptions options_;
    QTimer passTimer_;
    std::u16string lastConfirmed_;
    WindowWords words_;
    bool ending_ = false;
};

}  // namespace tw::client
