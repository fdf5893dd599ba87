#include "client/client_app.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPushButton>

#include "client/message_window.h"
#include "common/platform/diagnostics.h"
#include "common/platform/display.h"
#include "common/text.h"

namespace tw::client {

namespace {
constexpr std::uint16_t kInformation = 4;

QString toQString(const std::u16string& s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}
}  // namespace

ClientApp::ClientApp(const ClientConfig& config, ClientNames names, net::UdpListener& udp,
                     net::TcpListener& tcp, MessageWindowOptions options)
    : config_(config), names_(std::move(names)), udp_(udp), tcp_(tcp), options_(options) {
    passTimer_.setSingleShot(true);
    connect(&passTimer_, &QTimer::timeout, this, [this] {
        const bool handled = pass();
        if (!ending_) passTimer_.start(handled ? std::chrono::milliseconds(0) : kIdlePoll);
    });
}

void ClientApp::start() { passTimer_.start(0); }

bool ClientApp::pass() {
    if (ending_) return false;
    // A datagram is handled before a waiting TCP connection; the connection stays in the
    // listen backlog until a pass finds no datagram.
    std::optional<net::Received> r = udp_.poll(kMessagePacketSize);
    if (!r) r = tcp_.poll(kMessagePacketSize, kTcpReadLimit);
    if (!r) return false;
    // A connection closed without a byte, or an empty datagram, carries no packet.
    if (r->data.empty()) return true;
    handle(*r);
    return true;
}

void ClientApp::report(const ReplyTarget& target, const MessagePacket& packet, std::uint8_t kind,
                       const char* linePrefix) {
    sendReport(target, names_, packet, kind);
    diag::debugLog(linePrefix + reportedLine(target, names_, kind));
}

void ClientApp::handle(const net::Received& received) {
    const MessagePacket packet = MessagePacket::parse(received.data);
    const ReplyTarget target{received.peerAddress, config_.portSender, received.transport};

    for (const std::string& line : incomingPacketLog(packet, received.transport))
        diag::debugLog(line);

    switch (decidePacket(packet, lastConfirmed_)) {
        case PacketAction::Duplicate:
            report(target, packet, M_REP_CONFIRMED, "DUPLICATED MESSAGE. ");
            break;
        case PacketAction::Discovery:
            report(target, packet, M_REP_IAMHERE);
            break;
        case PacketAction::Check:
            report(target, packet, M_REP_ACTIVE);
            break;
        case PacketAction::ShowText:
            showMessage(packet, target);
            break;
    }
}

void ClientApp::showMessage(const MessagePacket& packet, const ReplyTarget& target) {
    words_ = chooseWindowWords(toQString(packet.language), words_);
    const bool reportsWanted = packet.systemMessage & kSysReportsWanted;
    const std::string server = utf16ToUtf8(packet.serverName);
    const std::string rootId = utf16ToUtf8(packet.msgRootId);
    const std::string text = utf16ToUtf8(packet.msgText);

    MessageWindow window(toQString(packet.msgText), words_.title);
    window.show();
    window.raise();
    window.activateWindow();
    platform::wakeDisplay();
    // Let the window reach the screen before a report to a slow server can hold us up.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (ending_) return;

    diag::writeEventLog(kInformation, 101, server, rootId, text);
    if (reportsWanted) report(target, packet, M_REP_DELIVERED);

    QEventLoop loop;
    connect(&window, &MessageWindow::confirmed, &loop, &QEventLoop::quit);
    QTimer minute;
    int minuteCounter = 1;
    connect(&minute, &QTimer::timeout, &window, [&] {
        window.setWindowTitle(minuteTitle(words_, minuteCounter));
        ++minuteCounter;
    });
    minute.start(options_.minuteInterval);
    if (options_.autoConfirm)
        QTimer::singleShot(*options_.autoConfirm, &window, [&] { window.okButton()->click(); });
    // The guard starts only now, so keys typed while the report above was under way are
    // dropped as well.
    window.armKeyGuard(options_.keyGuard);
    if (ending_) return;
    loop.exec();
    if (ending_) return;  // the session ended with the message still unconfirmed

    // The window goes at once; a report to a server that is slow to answer must not keep
    // it on screen after OK.
    minute.stop();
    window.release();
    diag::writeEventLog(kInformation, 102, server, rootId, text);
    if (reportsWanted) report(target, packet, M_REP_CONFIRMED);
    lastConfirmed_ = packet.msgRootId;
}

void ClientApp::endSession() {
    if (ending_) return;
    ending_ = true;
    passTimer_.stop();
    diag::writeEventLog(kInformation, 103);
    QCoreApplication::exit(0);
}

}  // namespace tw::client
