// A person at a real (virtual) display: the client runs on a private Xvfb server, with or
// without a real window manager (openbox), and the test finds the message window by its
// title, looks at it with the X tools and answers it with the keyboard and the mouse.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>

#include "tests/client/client_harness.h"

using namespace tw;
using namespace tw::test;
using namespace std::chrono_literals;

namespace {

int countOf(const std::vector<int>& ids, int id) {
    return static_cast<int>(std::count(ids.begin(), ids.end(), id));
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The client on a private display, started and waiting for packets.
struct DesktopClient {
    explicit DesktopClient(bool withWindowManager, std::map<std::string, std::string> env = {})
        : display(withWindowManager) {
        if (display.name().empty()) return;
        env["QT_QPA_PLATFORM"] = "xcb";
        env["DISPLAY"] = display.name();
        process = harness.start({"--debug"}, env);
        started = harness.waitStarted(*process);
    }
    ~DesktopClient() {
        if (process && process->running()) process->signal(SIGTERM);
    }
    // Clicks the middle of where the layout puts OK.
    bool clickOk(const std::string& wid) {
        const auto g = display.geometry(wid);
        return g && display.xdotool({"mousemove", "--sync", std::to_string(g->x + g->width / 2),
                                     std::to_string(g->y + g->height - 10 - 25 / 2), "click", "1"})
                            .code == 0;
    }
    // Sends a text and waits for its window; "" when it did not come (and why, on stderr).
    std::string showText(const std::u16string& text, const std::u16string& root = u"321") {
        const std::size_t before = harness.peer.count();
        harness.send(makePacket(1, root, text), Transport::Tcp);
        if (!harness.peer.waitForCount(before + 1, 30s)) {
            std::cerr << "no delivery report; client: " << process->err() << "\n";
            return "";
        }
        std::string wid;
        if (!waitFor([&] { return !(wid = display.findWindow("Message")).empty(); }, 30s))
            std::cerr << "no visible window titled Message\n";
        return wid;
    }
    PrivateDisplay display;
    ClientHarness harness;
    std::unique_ptr<Process> process;
    bool started = false;
};

#define SKIP_WITHOUT_DISPLAY(wm)                                                            \
    do {                                                                                    \
        if (const std::string missing = PrivateDisplay::missingTools(wm); !missing.empty()) \
            GTEST_SKIP() << "needs " << missing;                                            \
    } while (0)

}  // namespace

TEST(ClientDesktop, steadyTypingNeverConfirmsAndAQuietSecondLaterReturnDoes) {
    SKIP_WITHOUT_DISPLAY(false);
    DesktopClient c(false);
    ASSERT_TRUE(c.started) << (c.process ? c.process->err() : c.display.problem());
    const std::string wid = c.showText(u"Fire drill at 11:00\nPlease use the stairs");
    ASSERT_FALSE(wid.empty());
    EXPECT_EQ(c.harness.reports()[0].report.kind, ReportKind::Delivered);
    ASSERT_EQ(c.display.xdotool({"windowfocus", "--sync", wid}).code, 0);

    // Someone typing on, a key every 0.15 s for well over a second, the Return at the end of
    // the line included, and a Space and a Return at once after it.
    ASSERT_EQ(c.display.xdotool({"type", "--delay", "150", "typing on and on\n"}).code, 0);
    ASSERT_EQ(c.display.xdotool({"key", "space", "Return"}).code, 0);
    EXPECT_FALSE(c.harness.peer.waitForCount(2, 700ms));
    EXPECT_EQ(c.display.findWindow("Message"), wid);

    // A quiet second after the last key, Return is OK.
    std::this_thread::sleep_for(1200ms);
    ASSERT_EQ(c.display.xdotool({"key", "Return"}).code, 0);
    ASSERT_TRUE(c.harness.peer.waitForCount(2));
    EXPECT_EQ(c.harness.reports()[1].report.kind, ReportKind::Confirmed);
    EXPECT_EQ(c.harness.reports()[1].report.msgRootId, u"321");
    ASSERT_TRUE(waitFor([&] { return c.display.findWindow("Message").empty(); }));
    const auto ev = c.harness.events();
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[1].id, 101);
    EXPECT_EQ(ev[2].id, 102);
    EXPECT_EQ(ev[2].strings,
              (std::vector<std::string>{"OPERATOR-PC", "321",
                                        "Fire drill at 11:00\nPlease use the stairs"}));
    c.process->signal(SIGTERM);
    EXPECT_EQ(c.process->wait(), 0);
}

TEST(ClientDesktop, consoleMessageIsShownTheSameWayAndNeverReported) {
    SKIP_WITHOUT_DISPLAY(false);
    DesktopClient c(false);
    ASSERT_TRUE(c.started) << (c.process ? c.process->err() : c.display.problem());
    const RunResult cli =
        run(binPath("tellwick_cli"),
            withArgs({"-a", "127.0.0.1", "-p", std::to_string(c.harness.listenPort), "-t",
                      "From the console|second line", "-m", "tcp", "-l", "en"}));
    ASSERT_EQ(cli.code, 0) << cli.out << cli.err;
    std::string wid;
    ASSERT_TRUE(waitFor([&] { return !(wid = c.display.findWindow("Message")).empty(); }));
    ASSERT_EQ(c.display.xdotool({"windowfocus", "--sync", wid}).code, 0);
    std::this_thread::sleep_for(1200ms);
    ASSERT_EQ(c.display.xdotool({"key", "Return"}).code, 0);
    ASSERT_TRUE(waitFor([&] { return countOf(c.harness.eventIds(), 102) == 1; }));
    const auto ev = c.harness.events();
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[1].id, 101);
    EXPECT_EQ(ev[1].strings.at(2), "From the console\nsecond line");
    // A check probe afterwards proves that nothing was reported for the message.
    c.harness.send(makePacket(5, u"322"), Transport::Udp);
    ASSERT_TRUE(c.harness.peer.waitForCount(1));
    EXPECT_EQ(c.harness.reports()[0].report.kind, ReportKind::Active);
    EXPECT_EQ(c.harness.peer.count(), 1u);
}

TEST(ClientDesktop, aMessageThatWaitedCountsItsMinutesFromItsArrival) {
    SKIP_WITHOUT_DISPLAY(false);
    DesktopClient c(false, {{"TELLWICK_TEST_MINUTE_MS", "300"}});
    ASSERT_TRUE(c.started) << (c.process ? c.process->err() : c.display.problem());
    const std::string first = c.showText(u"first", u"601");
    ASSERT_FALSE(first.empty());
    c.harness.send(makePacket(1, u"602", u"second"), Transport::Udp);
    // The first window's title counts its "minutes" as they pass.
    ASSERT_TRUE(waitFor([&] { return !c.display.findWindow("Message 3 minutes ago").empty(); }));
    ASSERT_TRUE(c.clickOk(first));
    // The second came in with the first and has waited as long: it starts at its own count.
    std::string title;
    ASSERT_TRUE(waitFor([&] {
        const RunResult r = c.display.xdotool({"search", "--onlyvisible", "--name", "^Message"});
        const std::string wid = r.out.substr(0, r.out.find('\n'));
        if (wid.empty() || wid == first) return false;
        title = c.display.xdotool({"getwindowname", wid}).out;
        return true;
    }));
    int minutes = 0;
    ASSERT_EQ(std::sscanf(title.c_str(), "Message %d minute", &minutes), 1) << title;
    EXPECT_GE(minutes, 2) << title;
    // Delivered for the second (over UDP, so it may come in before the first's confirmation
    // over TCP).
    ASSERT_TRUE(c.harness.peer.waitForCount(3));
    const auto rs = c.harness.reports();
    EXPECT_EQ(std::count_if(rs.begin(), rs.end(),
                            [](const GotReport& r) {
                                return r.report.msgRootId == u"602" &&
                                       r.report.kind == ReportKind::Delivered;
                            }),
              1);
}

TEST(ClientWindowManager, titleBarWithoutButtonsAndOnlyOkEndsTheMessage) {
    SKIP_WITHOUT_DISPLAY(true);
    DesktopClient c(true);
    ASSERT_TRUE(c.started) << (c.process ? c.process->err() : c.display.problem());
    const std::string wid = c.showText(u"Only OK ends me");
    ASSERT_FALSE(wid.empty());

    // What the window asks for, and what openbox then offers for it: no minimise, maximise,
    // resize or full screen (openbox keeps a close button on every window; it is refused).
    EXPECT_TRUE(
        contains(c.display.property(wid, "_NET_WM_WINDOW_TYPE"), "_NET_WM_WINDOW_TYPE_TOOLBAR"));
    EXPECT_TRUE(contains(c.display.property(wid, "_MOTIF_WM_HINTS"), "= 0x3, 0x4, 0xa, 0x0, 0x0"));
    EXPECT_TRUE(contains(c.display.property(wid, "_NET_WM_STATE"), "_NET_WM_STATE_ABOVE"));
    std::string allowed;
    ASSERT_TRUE(waitFor([&] {
        allowed = c.display.property(wid, "_NET_WM_ALLOWED_ACTIONS");
        return contains(allowed, "_NET_WM_ACTION_MOVE");
    }));
    for (const char* action :
         {"MINIMIZE", "MAXIMIZE_HORZ", "MAXIMIZE_VERT", "RESIZE", "FULLSCREEN"})
        EXPECT_FALSE(contains(allowed, std::string("_NET_WM_ACTION_") + action)) << allowed;
    const auto g = c.display.geometry(wid);
    ASSERT_TRUE(g);
    EXPECT_GT(g->top, 0);  // it has its title bar

    // The user tries every other way out: minimise, close, Alt+F4 and Escape.
    ASSERT_EQ(c.display.xdotool({"windowminimize", wid}).code, 0);
    ASSERT_EQ(c.display.tool("wmctrl", {"-i", "-c", wid}).code, 0);
    ASSERT_EQ(c.display.xdotool({"windowactivate", "--sync", wid}).code, 0);
    ASSERT_EQ(c.display.xdotool({"key", "alt+F4", "Escape"}).code, 0);
    // Openbox handles requests in order: once the window has moved (xdotool places its client
    // area), the others were seen.
    ASSERT_EQ(c.display.xdotool({"windowmove", wid, "40", "40"}).code, 0);
    ASSERT_TRUE(waitFor([&] {
        const auto now = c.display.geometry(wid);
        return now && now->x == 40 && now->y == 40;
    }));
    EXPECT_EQ(c.display.findWindow("Message"), wid);
    EXPECT_TRUE(contains(c.display.property(wid, "WM_STATE"), "Normal"));
    EXPECT_EQ(c.harness.peer.count(), 1u);  // delivered only

    // OK with the mouse, where the layout puts it.
    const auto at = c.display.geometry(wid);
    ASSERT_TRUE(at);
    const int okX = at->x + at->width / 2;
    const int okY = at->y + at->height - 10 - 25 / 2;
    ASSERT_EQ(c.display
                  .xdotool({"mousemove", "--sync", std::to_string(okX), std::to_string(okY),
                            "click", "1"})
                  .code,
              0);
    ASSERT_TRUE(c.harness.peer.waitForCount(2));
    EXPECT_EQ(c.harness.reports()[1].report.kind, ReportKind::Confirmed);
}

TEST(ClientWindowManager, staysAboveAFullScreenWindowAlsoWhenItTakesTheFocus) {
    SKIP_WITHOUT_DISPLAY(true);
    DesktopClient c(true);
    ASSERT_TRUE(c.started) << (c.process ? c.process->err() : c.display.problem());
    Process cover(binPath("tellwick_test_cover_window"),
                  withArgs({"Cover", "fullscreen", "#ff00ff"},
                           {{"DISPLAY", c.display.name()}, {"QT_QPA_PLATFORM", "xcb"}}));
    std::string coverId;
    ASSERT_TRUE(waitFor([&] {
        coverId = c.display.findWindow("Cover");
        return !coverId.empty() &&
               contains(c.display.property(coverId, "_NET_WM_STATE"), "FULLSCREEN") &&
               c.display.activeWindow() == windowNumber(coverId) &&
               c.display.pixel(640, 512) == "#FF00FF";
    }));

    const std::string wid = c.showText(u"Above the film");
    ASSERT_FALSE(wid.empty());
    const auto onTop = [&] {
        const auto s = c.display.stacking();
        const auto g = c.display.geometry(wid);
        return !s.empty() && s.back() == windowNumber(wid) && g &&
               c.display.pixel(g->x + g->width / 2, g->y + 5) != "#FF00FF";
    };
    EXPECT_TRUE(waitFor(onTop));

    // The user clicks into the full-screen window: it gets the focus, the message stays on top.
    ASSERT_EQ(c.display.xdotool({"mousemove", "--sync", "20", "20", "click", "1"}).code, 0);
    ASSERT_EQ(c.display.xdotool({"windowactivate", coverId}).code, 0);
    EXPECT_TRUE(waitFor([&] { return onTop() && c.display.activeWindow() == windowNumber(wid); }));
    EXPECT_EQ(c.harness.peer.count(), 1u);
}

TEST(ClientWindowManager, longShortAndTallTextsKeepTheWholeWindowAndOkOnTheScreen) {
    SKIP_WITHOUT_DISPLAY(true);
    DesktopClient c(true);
    ASSERT_TRUE(c.started) << (c.process ? c.process->err() : c.display.problem());
    std::u16string words;
    while (words.size() < 495) words += u"longer ";
    words.resize(500);
    std::u16string tall;
    for (int i = 0; i < 120; ++i) tall += u"line\n";
    const std::u16string texts[] = {std::u16string(500, u'W'), words, u"Hi", tall};
    int n = 0;
    for (const auto& text : texts) {
        SCOPED_TRACE(text.size());
        const std::size_t before = c.harness.peer.count();
        const std::string wid = c.showText(text, u"40" + std::u16string(1, u'0' + n++));
        ASSERT_FALSE(wid.empty());
        PrivateDisplay::Geometry g;
        ASSERT_TRUE(waitFor([&] {
            const auto now = c.display.geometry(wid);
            if (!now || now->top == 0) return false;
            g = *now;
            return true;
        }));
        EXPECT_GE(g.x - g.left, 0);
        EXPECT_GE(g.y - g.top, 0);
        EXPECT_LE(g.x + g.width + g.right, 1280);
        EXPECT_LE(g.y + g.height + g.bottom, 1024);
        EXPECT_GE(g.width, 110);
        // OK, clicked where it must be, ends the message.
        const int okX = g.x + g.width / 2;
        const int okY = g.y + g.height - 10 - 25 / 2;
        ASSERT_EQ(c.display
                      .xdotool({"mousemove", "--sync", std::to_string(okX), std::to_string(okY),
                                "click", "1"})
                      .code,
                  0);
        ASSERT_TRUE(c.harness.peer.waitForCount(before + 2));
        EXPECT_EQ(c.harness.reports().back().report.kind, ReportKind::Confirmed);
        ASSERT_TRUE(waitFor([&] { return c.display.findWindow("Message").empty(); }));
    }
}
