// The client on a Wayland desktop (weston, headless, with XWayland): it goes through XWayland
// when the user has not chosen a platform, and falls back to Wayland itself when X11 cannot
// be reached.
#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <random>

#include "tests/client/client_harness.h"

using namespace tw;
using namespace tw::test;
using namespace std::chrono_literals;

namespace {

const std::filesystem::path kWeston = "/usr/bin/weston";
const std::filesystem::path kXwayland = "/usr/bin/Xwayland";
const std::filesystem::path kXdotool = "/usr/bin/xdotool";
const std::filesystem::path kXprop = "/usr/bin/xprop";
const std::filesystem::path kQtWayland =
    "/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so";

// A headless weston with XWayland in a runtime folder of its own.
class Weston {
public:
    Weston()
        : socket_("tw-test-" + std::to_string(std::random_device{}()) + "-" +
                  std::to_string(freePort())) {
        std::filesystem::create_directories(runtime_.path());
        std::filesystem::permissions(runtime_.path(), std::filesystem::perms::owner_all);
        weston_ = std::make_unique<Process>(
            kWeston,
            withArgs({"--backend=headless-backend.so", "--socket=" + socket_, "--use-pixman",
                      "--xwayland", "--idle-time=0", "--width=1280", "--height=1024"},
                     {{"XDG_RUNTIME_DIR", runtime_.path().string()}}));
        // weston names the X display it has opened for XWayland in its log.
        waitFor([&] {
            const std::string log = weston_->err();
            const std::string said = "xserver listening on display ";
            if (const auto at = log.find(said); at != std::string::npos) {
                const auto end = log.find_first_not_of(":0123456789", at + said.size());
                x11Display_ = log.substr(at + said.size(), end - at - said.size());
            }
            return !x11Display_.empty() || !weston_->running();
        });
    }
    const std::string& socket() const { return socket_; }
    const std::string& x11Display() const { return x11Display_; }
    std::string runtime() const { return runtime_.path().string(); }
    std::string log() const { return weston_->err(); }

    RunResult x11(const std::filesystem::path& tool, std::vector<std::string> args) const {
        return run(tool, withArgs(std::move(args), {{"DISPLAY", x11Display_}}));
    }

private:
    TempDir runtime_;
    std::string socket_;
    std::unique_ptr<Process> weston_;
    std::string x11Display_;
};

// The client as a desktop session starts it: both display variables set, no platform chosen.
std::unique_ptr<Process> startInSession(ClientHarness& h, const Weston& w,
                                        const std::string& display) {
    Process::Options o = h.options();
    o.env.erase("QT_QPA_PLATFORM");
    o.unsetEnv.push_back("QT_QPA_PLATFORM");
    o.env["WAYLAND_DISPLAY"] = w.socket();
    o.env["DISPLAY"] = display;
    o.env["XDG_RUNTIME_DIR"] = w.runtime();
    return std::make_unique<Process>(binPath("tellwick_client"), o);
}

}  // namespace

TEST(ClientWayland, goesThroughXWaylandAndFallsBackToWaylandWithoutIt) {
    for (const auto& tool : {kWeston, kXwayland, kXdotool, kXprop})
        if (!std::filesystem::exists(tool)) GTEST_SKIP() << "needs " << tool.string();
    Weston weston;
    ASSERT_FALSE(weston.x11Display().empty()) << weston.log();

    {
        ClientHarness h;
        auto client = startInSession(h, weston, weston.x11Display());
        ASSERT_TRUE(h.waitStarted(*client)) << client->err();
        h.send(makePacket(1, u"51", u"Through XWayland"), Transport::Tcp);
        ASSERT_TRUE(h.peer.waitForCount(1));
        // The X tools see it: the window is an X11 window, where "stay on top" can be asked.
        std::string wid;
        ASSERT_TRUE(waitFor([&] {
            const RunResult r =
                weston.x11(kXdotool, {"search", "--onlyvisible", "--name", "^Message$"});
            wid = r.out.substr(0, r.out.find('\n'));
            return !wid.empty();
        }));
        const std::string type = weston.x11(kXprop, {"-id", wid, "_NET_WM_WINDOW_TYPE"}).out;
        EXPECT_NE(type.find("_NET_WM_WINDOW_TYPE_TOOLBAR"), std::string::npos) << type;
        // Whether this compositor's X window manager can keep it above later windows at all.
        const std::string supported = weston.x11(kXprop, {"-root", "_NET_SUPPORTED"}).out;
        if (supported.find("_NET_WM_STATE_ABOVE") == std::string::npos)
            std::cout << "note: this compositor's X window manager has no \"above\" state; "
                         "a window opened later may cover the message\n";
        client->signal(SIGTERM);
        EXPECT_EQ(client->wait(), 0) << client->err();
    }

    if (!std::filesystem::exists(kQtWayland)) {
        std::cout << "skipped the fallback to Wayland: Qt's Wayland platform (qt6-wayland) is "
                     "not installed\n";
        return;
    }
    {
        // DISPLAY names an X server that is not there: the client shows the message through
        // Wayland itself instead of failing to start.
        ClientHarness h;
        auto client = startInSession(h, weston, ":65000");
        ASSERT_TRUE(h.waitStarted(*client)) << client->err();
        h.send(makePacket(1, u"52", u"Native Wayland"), Transport::Udp);
        ASSERT_TRUE(h.peer.waitForCount(1)) << client->err();
        EXPECT_EQ(h.reports()[0].report.kind, ReportKind::Delivered);
        EXPECT_TRUE(client->running());
        client->signal(SIGTERM);
        EXPECT_EQ(client->wait(), 0) << client->err();
    }
}
