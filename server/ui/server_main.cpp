#include "server/ui/server_main.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <vector>

#include "common/net.h"
#include "common/platform/diagnostics.h"
#include "common/platform/fault_report.h"
#include "common/platform/host_names.h"
#include "common/platform/message_box.h"
#include "common/platform/qt/event_source.h"
#include "common/platform/qt/quit_signals.h"
#include "common/platform/single_instance.h"
#include "server/data/clients.h"
#include "server/data/config.h"
#include "server/data/texts.h"
#include "server/engine/engine.h"
#include "server/ui/client_tree_view.h"
#include "server/ui/layout/ui_document.h"
#include "server/ui/main_window.h"
#include "server/ui/outcome_wiring.h"
#include "server/ui/resources.h"

namespace tw::ui {

using tw::platform::BoxIcon;
using tw::platform::showMessageBox;
using tw::server::Text;

namespace {

constexpr char kInstanceName[] = "Tellwick Server";

class BoxNotifier : public tw::server::Notifier {
public:
    void messageBox(const QString& title, const QString& text, BoxIcon icon) override {
        showMessageBox(title, text, icon);
    }
};

tw::server::DesktopSize primaryDesktop() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    const QRect r = screen->geometry();
    return {r.width(), r.height()};
}

// The sockets of this system can be made at all: a UDP socket on a port of the system's
// choosing opens and closes again.
bool networkReady() {
    tw::net::UdpListener probe;
    return probe.open(0);
}

// Only one server runs per session; a second one says so and ends.
bool firstInstance(tw::platform::SingleInstance& instance) {
    if (instance.acquire(kInstanceName) != tw::platform::SingleInstance::Result::AlreadyRunning)
        return true;
    // English only: the interface language is not known yet.
    showMessageBox(QStringLiteral("Stop"),
                   QStringLiteral("The server is already running. Terminating..."), BoxIcon::Error);
    return false;
}

// srv_config.ini (or the older config.ini) of the start-up folder, and the interface language.
tw::server::ServerConfig loadSettings(const std::filesystem::path& baseDir,
                                      tw::server::InterfaceTexts& texts, BoxNotifier& notifier) {
    tw::server::ServerConfig config;
    tw::server::MigrateConfigFile(baseDir);
    tw::server::LoadConfiguration(config, texts, baseDir, primaryDesktop(), &notifier);
    return config;
}

// Start-up checks: every failure is collected into one box. False when the server must end.
bool passStartUpChecks(tw::server::ServerConfig& config, const tw::server::InterfaceTexts& texts,
                       tw::server::SecurityKeys& keys) {
    QStringList failures;
    if (!networkReady()) failures << texts[Text::CantInitNetwork];
    if (!tw::server::ClientsFileCreatable(tw::server::dataFilePath(config.Clients)))
        failures << texts[Text::CantCreateClientsFile];
    // A key named in [Security] that cannot be used stops the start: running unsigned, or
    // taking every report, would look like protection that is not there.
    failures << tw::server::loadSecurityKeys(config, texts, keys);
    if (failures.isEmpty()) return true;
    showMessageBox(texts[Text::ErrorTitle], failures.join(QStringLiteral("\r\n")), BoxIcon::Error);
    return false;
}

// The embedded document the windows are built from; null (and a debug line) when it is broken.
std::shared_ptr<const UiDocument> dialogDocument() {
    auto parsed = UiDocument::parse(embeddedDialogDocument());
    if (!parsed.ok()) {
        tw::diag::debugLog(parsed.error.debugLine().toStdU16String());
        return nullptr;
    }
    return parsed.document;
}

void openEventLog(const tw::server::ServerConfig& config, const tw::server::InterfaceTexts& texts) {
    tw::diag::setEventLogSwitch(config.UseEventLogger);
    if (config.UseEventLogger == 1)
        tw::diag::registerEventSourceOrExit(texts[Text::ErrorTitle],
                                            texts[Text::CantCreateRegistryKey], 1);
}

// The engine's news arrives queued, on this thread. A fatal error ends the program unless it
// is closing already.
void showEngineNews(tw::server::ServerEngine& engine, MainWindow& window, ClientTreeView& treeView,
                    const tw::server::InterfaceTexts& texts, bool& closing) {
    using tw::server::ServerEngine;
    const auto queued = Qt::QueuedConnection;
    QObject::connect(&engine, &ServerEngine::statusText, &window, &MainWindow::showStatus, queued);
    QObject::connect(&engine, &ServerEngine::sendButtonCaption, &window,
                     &MainWindow::setSendCaption, queued);
    QObject::connect(&engine, &ServerEngine::itemsChanged, &treeView, &ClientTreeView::refreshItems,
                     queued);
    QObject::connect(
        &engine, &ServerEngine::clientsReloaded, &treeView,
        [&treeView, &texts] {
            treeView.rebuildFromRecords(texts[Text::AllClients]);
            treeView.expandItem(0);
            treeView.expandItem(1);
        },
        queued);
    QObject::connect(
        &engine, &ServerEngine::messageBox, &window,
        [](const QString& title, const QString& text, BoxIcon icon) {
            showMessageBox(title, text, icon);
        },
        queued);
    QObject::connect(
        &engine, &ServerEngine::fatalError, &window,
        [&engine, &texts, &closing](const QString& text, int exitCode) {
            if (closing) return;
            closing = true;
            showMessageBox(texts[Text::ErrorTitle], text, BoxIcon::Error);
            engine.shutdown();
            QCoreApplication::exit(exitCode);
        },
        queued);
}

// The window's requests go to the engine. `anyChecked` is the tree's any-checked flag as the
// last click left it.
void passRequestsOn(MainWindow& window, ClientTreeView& treeView, tw::server::ServerEngine& engine,
                    bool& anyChecked) {
    using tw::server::ServerEngine;
    QObject::connect(&window, &MainWindow::sendRequested, &engine, &ServerEngine::sendRequest);
    QObject::connect(&window, &MainWindow::newClientsScanRequested, &engine,
                     &ServerEngine::startNewClientsScan);
    QObject::connect(&treeView, &ClientTreeView::leftClicked, &window,
                     [&] { anyChecked = treeView.anyChecked(); });
    QObject::connect(&window, &MainWindow::checkRequested, &engine,
                     [&] { engine.startCheck(anyChecked); });
    QObject::connect(&treeView, &ClientTreeView::rightClicked, &window,
                     &MainWindow::showScannerMenu);
    QObject::connect(&window, &MainWindow::beepRequested, &window, [] { QApplication::beep(); });
    connectOutcome(window, treeView, engine);
    QObject::connect(&window, &MainWindow::followUpRequested, &window,
                     [&] { anyChecked = treeView.anyChecked(); });
}

// The clients database fills the tree; false (after its box) when it cannot be read.
bool loadClients(tw::server::ServerSettings& settings, tw::server::ServerContext& context,
                 ClientTreeView& treeView, const tw::server::InterfaceTexts& texts) {
    QString clientsFile = settings.snapshot().Clients;
    // An older database is converted, and the settings then name the new file.
    if (tw::server::ConvertOldClientsFile(clientsFile)) settings.setClientsFile(clientsFile);
    const auto loaded = tw::server::LoadClientsDatabase(tw::server::dataFilePath(clientsFile),
                                                        context.tree.records(), &treeView, texts);
    if (loaded.failed()) {
        showMessageBox(texts[Text::ErrorTitle], loaded.message, BoxIcon::Error);
        return false;
    }
    context.tree.rebuildIndex();
    return true;
}

// Close: stop the workers (a running scan finishes, a waiting mailing is closed), save the
// settings with the window's live geometry, end with 0.
void closeServer(tw::server::ServerEngine& engine, const tw::server::ServerSettings& settings,
                 const tw::server::InterfaceTexts& texts, const std::filesystem::path& baseDir,
                 const MainWindow& window) {
    engine.shutdown();
    // The old file stays when the new one cannot be written; the operator must know that this
    // session's settings did not reach it.
    if (!tw::server::SaveConfiguration(settings.snapshot(), texts.language(), baseDir,
                                       primaryDesktop(), window.liveGeometry()))
        showMessageBox(texts[Text::ErrorTitle], texts[Text::CantSaveSettings], BoxIcon::Error);
    QCoreApplication::exit(0);
}

}  // namespace

int runServer(int argc, char** argv) {
    // Qt takes its own options out of argv; the debug switch is judged on the command line as
    // it was given.
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    int qtArgc = argc;
    QApplication app(qtArgc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Task bars match the window to its desktop entry by this name (the Wayland app id and
    // the X11 class), and show the program's icon, not a generic one.
    QGuiApplication::setDesktopFileName(QStringLiteral("tellwick-server"));
    QApplication::setWindowIcon(programIcon());

    // Termination requests run the close sequence once the main loop runs; one that arrives
    // during start-up waits for it.
    std::function<void()> onQuit;
    bool quitPending = false;
    auto requestQuit = [&] {
        if (onQuit)
            onQuit();
        else
            quitPending = true;
    };
    using tw::platform::QuitSignal;
    tw::platform::QuitSignals quitSignals({QuitSignal::Terminate, QuitSignal::Interrupt},
                                          [&](QuitSignal) { requestQuit(); });

    tw::diag::setProgram(tw::diag::kServerIdentity);
    tw::platform::SingleInstance instance;
    if (!firstInstance(instance)) return 1;
    tw::diag::initDebugLog(argc, args.data());

    std::error_code ec;
    const std::filesystem::path baseDir = std::filesystem::current_path(ec);
    tw::platform::installFaultReport();

    BoxNotifier notifier;
    tw::server::InterfaceTexts& texts = tw::server::uiTexts();
    tw::server::ServerConfig config = loadSettings(baseDir, texts, notifier);
    tw::server::ServerContext context;
    if (!passStartUpChecks(config, texts, context.keys)) return 1;
    const std::shared_ptr<const UiDocument> xmlUi = dialogDocument();
    if (!xmlUi) return 1;
    // The one owner of the settings from here on: what changes while the server runs, and
    // what is saved at the end, goes through it.
    tw::server::ServerSettings settings(config);
    context.settings = &settings;
    openEventLog(config, texts);

    MainWindow window(xmlUi, settings, texts, tw::server::dataFilePath(config.Templates),
                      &notifier);
    if (!window.isValid()) return 1;
    ClientTreeView treeView(window.tree(), context.tree, context.clientsLock);
    treeView.setTexts(&texts);
    // The list is read before any worker exists: nobody else touches the records yet, and the
    // engine's signer prepares for as many clients as the list holds.
    if (!loadClients(settings, context, treeView, texts)) return -1;
    tw::server::ServerEngine engine(context, texts);
    window.setBroadcastIndicatorSource([&engine] { return engine.broadcastIndicator(); });

    bool closing = false;
    showEngineNews(engine, window, treeView, texts, closing);
    bool anyChecked = false;
    passRequestsOn(window, treeView, engine, anyChecked);
    QObject::connect(&window, &MainWindow::closeRequested, &window, requestQuit);

    if (engine.takeUdpWarning())
        showMessageBox(texts[Text::InfoTitle], texts[Text::UdpWarning], BoxIcon::Information);

    window.showAtConfiguredGeometry();
    if (!engine.startListener()) {
        showMessageBox(texts[Text::ErrorTitle], texts[Text::PortBusy], BoxIcon::Error);
        return 1;
    }
    context.hostName = QString::fromStdString(tw::platform::netbiosName()).toUpper();

    onQuit = [&] {
        if (closing) return;
        closing = true;
        closeServer(engine, settings, texts, baseDir, window);
    };
    if (quitPending) QTimer::singleShot(0, &window, onQuit);
    return app.exec();
}

}  // namespace tw::ui
