// A small program that plays the part of the server or the client for the platform tests,
// one behaviour per value of TELLWICK_HELPER_MODE; the command line is passed on as a program's
// own, so that "--debug" rules can be tried on a real process.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/diagnostics.h"
#include "common/platform/fault_report.h"
#include "common/platform/qt/event_source.h"
#include "common/platform/single_instance.h"

namespace {

volatile int zero = 0;
volatile int sink = 1;

[[gnu::noinline]] int recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    // The test on `zero` only hides from the compiler that this never ends.
    return (zero == 0 ? recurse(depth + 1) : 0) + frame[0];
}

// The faults are the point here: no sanitizer report may come before the program's own.
[[noreturn]] [[gnu::no_sanitize("undefined")]] void crash(const std::string& kind) {
    if (kind == "segv") *reinterpret_cast<volatile int*>(std::uintptr_t{16}) = 1;
    if (kind == "fpe") sink = sink / zero;  // 1 / x needs no division instruction
    if (kind == "ill") __builtin_trap();
    if (kind == "abort") std::abort();
    if (kind == "overflow") sink = recurse(0);
    std::_Exit(3);
}

}  // namespace

int main(int argc, char** argv) {
    const char* modeEnv = std::getenv("TELLWICK_HELPER_MODE");
    const std::string mode = modeEnv ? modeEnv : "";

    if (mode == "debug") {
        tw::diag::setProgram(tw::diag::kClientIdentity);
        tw::diag::initDebugLog(argc, argv);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 100; ++i)
                    tw::diag::debugLog("LISTEN: thread " + std::to_string(t) + " line " +
                                       std::to_string(i));
            });
        for (auto& th : threads) th.join();
        tw::diag::debugLog(u"Привет");
        return 0;
    }

    if (mode == "lock") {
        tw::platform::SingleInstance guard;
        const auto r = guard.acquire("Tellwick Client");
        std::puts(r == tw::platform::SingleInstance::Result::Acquired         ? "Acquired"
                  : r == tw::platform::SingleInstance::Result::AlreadyRunning ? "AlreadyRunning"
                                                                              : "Unavailable");
        std::fflush(stdout);
        if (r == tw::platform::SingleInstance::Result::Acquired && argc > 1 &&
            std::strcmp(argv[1], "hold") == 0)
            for (;;) ::pause();
        return 0;
    }

    if (mode == "register-client" || mode == "register-server") {
        const bool client = mode == "register-client";
        tw::diag::setProgram(client ? tw::diag::kClientIdentity : tw::diag::kServerIdentity);
        if (client)
            tw::diag::registerClientEventSourceOrExit();
        else
            tw::diag::registerEventSourceOrExit(QStringLiteral("Error"),
                                                QStringLiteral("No key.\nStop."), 1);
        std::puts("registered");
        return 0;
    }

    // One event record of the client (101) or the server (104) with the three strings
    // given on the command line.
    if (mode == "event-client" || mode == "event-server") {
        const bool client = mode == "event-client";
        tw::diag::setProgram(client ? tw::diag::kClientIdentity : tw::diag::kServerIdentity);
        tw::diag::setEventLogSwitch(1);
        tw::diag::writeEventLog(4, client ? 101 : 104, argc > 1 ? argv[1] : "",
                                argc > 2 ? argv[2] : "", argc > 3 ? argv[3] : "");
        return 0;
    }

    if (mode.rfind("crash-", 0) == 0) {
        tw::diag::setProgram(tw::diag::kServerIdentity);
        tw::diag::initDebugLog(argc, argv);
        tw::platform::installFaultReport();
        std::string kind = mode.substr(6);
        if (kind.rfind("thread-", 0) == 0) {
            kind = kind.substr(7);
            std::thread([kind] {
                tw::platform::prepareFaultStackForThread();
                crash(kind);
            }).join();
        }
        crash(kind);
    }

    std::fprintf(stderr, "unknown mode\n");
    return 2;
}
