#include "client/client_app.h"

#include <QCoreApplication>
#include <QPushButton>

#include "client/message_window.h"
#include "client/report_sender.h"
#include "common/events.h"
#include "common/platform/diagnostics.h"
#include "common/platform/display.h"
#include "common/text.h"

namespace tw::client {

namespace {

QString toQString(const std::u16string& s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}
}  // namespace

ClientApp::ClientApp(const ClientConfig& config, ClientNames names, ReportSender& reports,
                     MessageWindowOptions options)
    : config_(config),
      names_(std::move(names)),
      reports_(reports),
      options_(options),
      refused_(options.minuteInterval) {
    minuteTimer_.setSingleShot(true);
    connect(&minuteTimer_, &QTimer::timeout, this, &ClientApp::onMinute);
    refusedTimer_.setSingleShot(true);
    connect(&refusedTimer_, &QTimer::timeout, this, &ClientApp::tellRefused);
}

ClientApp::~ClientApp() { delete window_; }

void ClientApp::handlePackets(const std::vector<net::Received>& packets,
                              Clock::time_point arrival) {
    for (const net::Received& r : packets) handle(r, arrival);
}

void ClientApp::report(const ReplyTarget& target, const MessagePacket& packet, ReportKind kind,
                       const char* linePrefix) {
    const auto record = buildReport(names_, packet, kind).serialize();
    std::vector<std::uint8_t> bytes = officeKey_
                                          ? auth::mac(record, *officeKey_, auth::nowMs())
                                          : std::vector<std::uint8_t>(record.begin(), record.end());
    reports_.send(target, std::move(bytes), linePrefix + reportedLine(target, names_, kind));
}

void ClientApp::noteRefused(std::size_t count, const std::string& lastPeer,
                            const std::string& lastReason) {
    if (ending_) return;
    lastRefusedPeer_ = lastPeer;
    lastRefusedReason_ = lastReason;
    const auto now = RejectionTally::Clock::now();
    if (refused_.note(count, now)) {
        tellRefused();
    } else if (!refusedTimer_.isActive()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(refused_.nextAllowed() - now);
        refusedTimer_.start(std::max(left, std::chrono::milliseconds(0)));
    }
}

void ClientApp::tellRefused() {
    if (ending_ || refused_.pending() == 0) return;
    const std::size_t n = refused_.take(RejectionTally::Clock::now());
    diag::writeEventLog(kEventInformation, eventId(ClientEvent::PacketsRejected), std::to_string(n),
                        lastRefusedPeer_, lastRefusedReason_);
}

void ClientApp::handle(const net::Received& received, Clock::time_point arrival) {
    // A connection closed without a byte, or an empty datagram, carries no packet.
    if (ending_ || received.data.empty()) return;
    const MessagePacket packet = MessagePacket::parse(received.data);
    const ReplyTarget target{received.peerAddress, config_.portSender, received.transport};

    for (const std::string& line : incomingPacketLog(packet, received.transport))
        diag::debugLog(line);

    switch (decidePacket(packet, lastConfirmed_)) {
        case PacketAction::Duplicate:
            report(target, packet, ReportKind::Confirmed, "DUPLICATED MESSAGE. ");
            break;
        case PacketAction::Discovery:
            report(target, packet, ReportKind::IAmHere);
            break;
        case PacketAction::Check:
            report(target, packet, ReportKind::Active);
            break;
        case PacketAction::ShowText:
            if (waiting_.size() >= kMaxWaiting) {
                diag::debugLog("QUEUE FULL. DROPPED: ServerIP = " + target.serverIp +
                               ", MsgRootId = " + utf16ToUtf8(packet.msgRootId));
                break;
            }
            waiting_.push_back({packet, target, arrival});
            if (!window_) showNext();
            break;
    }
}

void ClientApp::showNext() {
    while (!window_ && !waiting_.empty() && !ending_) {
        Pending next = std::move(waiting_.front());
        waiting_.pop_front();
        // A copy of a message that was on screen when it came is a repeat by now.
        if (decidePacket(next.packet, lastConfirmed_) == PacketAction::Duplicate) {
            report(next.target, next.packet, ReportKind::Confirmed, "DUPLICATED MESSAGE. ");
            continue;
        }
        show(std::move(next));
    }
}

void ClientApp::show(Pending pending) {
    shown_ = std::move(pending);
    const MessagePacket& packet = shown_.packet;
    words_ = chooseWindowWords(toQString(packet.language), words_);

    window_ = new MessageWindow(toQString(packet.msgText), words_.title);
    connect(window_, &MessageWindow::confirmed, this, &ClientApp::onConfirmed);
    // The minutes count from the message's arrival: one that waited behind another shows
    // its age at once.
    minuteCounter_ = 1;
    const auto waited = Clock::now() - shown_.arrival;
    if (const auto minutes = static_cast<int>(waited / options_.minuteInterval); minutes >= 1) {
        window_->setWindowTitle(minuteTitle(words_, minutes));
        minuteCounter_ = minutes + 1;
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    window_->armKeyGuard(options_.keyGuard);
    platform::wakeDisplay();

    diag::writeEventLog(kEventInformation, eventId(ClientEvent::Received),
                        utf16ToUtf8(packet.serverName), utf16ToUtf8(packet.msgRootId),
                        utf16ToUtf8(packet.msgText));
    if (packet.systemMessage & kSysReportsWanted)
        report(shown_.target, packet, ReportKind::Delivered);

    armMinuteTimer();
    if (options_.autoConfirm)
        QTimer::singleShot(*options_.autoConfirm, window_,
                           [w = window_] { w->okButton()->click(); });
}

void ClientApp::armMinuteTimer() {
    const auto due = shown_.arrival + minuteCounter_ * options_.minuteInterval;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
    minuteTimer_.start(std::max(left, std::chrono::milliseconds(0)));
}

void ClientApp::onMinute() {
    if (!window_) return;
    window_->setWindowTitle(minuteTitle(words_, minuteCounter_));
    ++minuteCounter_;
    armMinuteTimer();
}

void ClientApp::onConfirmed() {
    if (!window_ || ending_) return;
    minuteTimer_.stop();
    // The window goes at once; it is deleted once its click has been dealt with.
    MessageWindow* done = window_;
    window_ = nullptr;
    done->release();
    done->deleteLater();

    const MessagePacket& packet = shown_.packet;
    diag::writeEventLog(kEventInformation, eventId(ClientEvent::Confirmed),
                        utf16ToUtf8(packet.serverName), utf16ToUtf8(packet.msgRootId),
                        utf16ToUtf8(packet.msgText));
    if (packet.systemMessage & kSysReportsWanted)
        report(shown_.target, packet, ReportKind::Confirmed);
    lastConfirmed_ = packet.msgRootId;
    showNext();
}

void ClientApp::endSession() {
    if (ending_) return;
    ending_ = true;
    minuteTimer_.stop();
    refusedTimer_.stop();
    diag::writeEventLog(kEventInformation, eventId(ClientEvent::SessionEnd));
    QCoreApplication::exit(0);
}

}  // namespace tw::client
