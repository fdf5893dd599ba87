// tellwick_client: the resident receiver. No window while idle; each text message is shown
// in a window of its own until the user presses OK.
#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "client/client_app.h"
#include "client/config.h"
#include "client/end_of_session.h"
#include "common/net.h"
#include "common/platform/diagnostics.h"
#include "common/platform/host_names.h"
#include "common/platform/message_box.h"
#include "common/platform/qt/event_source.h"
#include "common/platform/single_instance.h"

using namespace tw;

namespace {

constexpr std::uint16_t kInformation = 4;

void fail(const std::string& text, bool withDebugLine) {
    platform::showMessageBox(QStringLiteral("Error!"), QString::fromStdString(text));
    if (withDebugLine) diag::debugLog("ERROR: " + text);
}

client::MessageWindowOptions windowOptions() {
    client::MessageWindowOptions o;
    // Test hook only: lets tests that run without a keyboard confirm a message.
    if (const char* v = std::getenv("TELLWICK_TEST_CONFIRM_AFTER_MS"); v && *v)
        o.autoConfirm = std::chrono::milliseconds(std::atoi(v));
    return o;
}

}  // namespace

int main(int argc, char** argv) {
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

    // Shows "Error!" and ends with 0 when the event source cannot be registered.
    if (config.useEventLogger == 1) diag::registerClientEventSourceOrExit();

    diag::debugLog("Network connections initializing...");
    diag::debugLog("Creating udp-listener...");
    net::UdpListener udp;
    if (!udp.open(config.portListen)) {
        fail("Can't open udp-port " + std::to_string(config.portListen) + ". Already busy?", true);
        return 0;
    }
    diag::debugLog("Creating tcp-listener...");
    net::TcpListener tcp;
    if (!tcp.open(config.portListen)) {
        fail("Can't open tcp-port " + std::to_string(config.portListen) + ". Already busy?", true);
        return 0;
    }

    client::ClientNames names{platform::netbiosName(), platform::fqdnName()};
    diag::debugLog("NameNETBIOS = " + names.netbios);
    diag::debugLog("NameFQDN = " + names.fqdn);

    client::ClientApp client(config, names, udp, tcp, windowOptions());
    client::EndOfSessionWatcher endOfSession;
    QObject::connect(&endOfSession, &client::EndOfSessionWatcher::requested, &client,
                     &client::ClientApp::endSession);

    diag::writeEventLog(kInformation, 100);
    client.start();
    return app.exec();
}
