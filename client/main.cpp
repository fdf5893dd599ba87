// tellwick_client: the resident receiver. No window while idle; each text message is shown
// in a window of its own until the user presses OK.
#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "client/client_app.h"
#include "client/config.h"
#include "client/end_of_session.h"
#include "client/packet_pump.h"
#include "client/report_sender.h"
#include "client/trust.h"
#include "common/events.h"
#include "common/net.h"
#include "common/net_async.h"
#include "common/platform/diagnostics.h"
#include "common/platform/host_names.h"
#include "common/platform/message_box.h"
#include "common/platform/qt/event_source.h"
#include "common/platform/single_instance.h"

using namespace tw;

namespace {

void fail(const std::string& text, bool withDebugLine) {
    platform::showMessageBox(QStringLiteral("Error!"), QString::fromStdString(text));
    if (withDebugLine) diag::debugLog("ERROR: " + text);
}

client::MessageWindowOptions windowOptions() {
    client::MessageWindowOptions o;
    // Test hooks only: let tests that run without a keyboard confirm a message, and watch
    // the minute count without waiting for minutes.
    if (const char* v = std::getenv("TELLWICK_TEST_CONFIRM_AFTER_MS"); v && *v)
        o.autoConfirm = std::chrono::milliseconds(std::atoi(v));
    if (const char* v = std::getenv("TELLWICK_TEST_MINUTE_MS"); v && std::atoi(v) > 0)
        o.minuteInterval = std::chrono::milliseconds(std::atoi(v));
    return o;
}

// On a Wayland desktop a window cannot ask to stay above the others; through XWayland it can,
// and the X window managers of the large desktops honour it (weston's does not). So when
// both displays are there and the user has not picked a platform, X11 comes first, Wayland
// only when the X server cannot be reached.
void preferX11OnWayland() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");
}

// Which of the two listeners a failed open could not get: the UDP port is taken first, and
// only when that worked the TCP port is tried.
bool udpPortFree(int port) {
    net::UdpListener probe;
    return probe.open(port);
}

}  // namespace

int main(int argc, char** argv) {
    preferX11OnWayland();
    QApplication app(argc, argv);
    // The client has no window while idle; closing a message window must not end it.
    app.setQuitOnLastWindowClosed(false);
    diag::setProgram(diag::kClientIdentity);

    platform::SingleInstance instance;
    if (instance.acquire("Tellwick Client") == platform::SingleInstance::Result::AlreadyRunning) {
        platform::showMessageBox(QStringLiteral("Stop"),
                                 QStringLiteral("The client is already running. Terminating..."));
        return 0;
    }

    diag::initDebugLog(argc, argv);

    diag::debugLog("Config reading...");
    const client::ClientConfig config =
        client::readClientConfig(std::filesystem::current_path() / "cln_config.ini");
    diag::setEventLogSwitch(config.useEventLogger);
    // A key that cannot be used stops the client: receiving unsigned instead would look like
    // protection and be none.
    client::TrustResult trust = client::loadTrust(config);
    if (!trust.trust) {
        fail(trust.error, true);
        return 0;
    }
    client::PacketGate gate(*trust.trust);

    // Shows "Error!" and ends with 0 when the event source cannot be registered.
    if (config.useEventLogger == 1) diag::registerClientEventSourceOrExit();

    diag::debugLog("Network connections initializing...");
    diag::debugLog("Creating udp-listener...");
    net::PacketReceiver receiver(gate.readSize(), client::ClientApp::kTcpReadLimit);
    if (!receiver.open(config.portListen)) {
        const std::string port = std::to_string(config.portListen);
        if (udpPortFree(config.portListen)) {
            diag::debugLog("Creating tcp-listener...");
            fail("Can't open tcp-port " + port + ". Already busy?", true);
        } else {
            fail("Can't open udp-port " + port + ". Already busy?", true);
        }
        return 0;
    }
    diag::debugLog("Creating tcp-listener...");

    client::ClientNames names{platform::netbiosName(), platform::fqdnName()};
    diag::debugLog("NameNETBIOS = " + names.netbios);
    diag::debugLog("NameFQDN = " + names.fqdn);

    // Destroyed in reverse: the pump stops reading first, the report thread goes last.
    client::ReportSender reports;
    client::ClientApp client(config, names, reports, windowOptions());
    if (trust.trust->officeKey) client.setOfficeKey(*trust.trust->officeKey);
    client::EndOfSessionWatcher endOfSession;
    QObject::connect(&endOfSession, &client::EndOfSessionWatcher::requested, &client,
                     &client::ClientApp::endSession);
    client::PacketPump pump(
        receiver, &client,
        [&client](const std::vector<net::Received>& packets, client::Clock::time_point arrival) {
            client.handlePackets(packets, arrival);
        });

    if (!trust.trust->allowFrom.empty() || trust.trust->operatorKey)
        pump.setGate([&gate](const net::Received& r) { return gate.refuse(r, auth::nowMs()); },
                     [&client](const client::PacketPump::Refused& r) {
                         client.noteRefused(r.count, r.lastPeer, r.lastReason);
                     });

    diag::writeEventLog(kEventInformation, eventId(ClientEvent::Launched));
    pump.start();
    return app.exec();
}
