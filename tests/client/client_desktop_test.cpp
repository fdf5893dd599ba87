// A person at a real (virtual) display: the client runs on a private Xvfb server, the test
// finds the message window by its title and answers it with the keyboard.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/client/client_harness.h"

using namespace tw;
using namespace tw::test;
using namespace std::chrono_literals;

namespace {

const std::filesystem::path kXvfb = "/usr/bin/Xvfb";
const std::filesystem::path kXdotool = "/usr/bin/xdotool";

// A private X server on the first free display number, which it picks itself.
class PrivateDisplay {
public:
    PrivateDisplay()
        : server_(kXvfb, withArgs({"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten",
                                   "tcp"})) {
        waitFor(
            [&] { return server_.out().find('\n') != std::string::npos || !server_.running(); });
        const std::string out = server_.out();
        if (const auto nl = out.find('\n'); nl != std::string::npos)
            name_ = ":" + out.substr(0, nl);
    }
    const std::string& name() const { return name_; }

    RunResult xdotool(std::vector<std::string> args) const {
        return run(kXdotool, withArgs(std::move(args), {{"DISPLAY", name_}}));
    }
    // The id of the visible window with exactly this title, or "".
    std::string findWindow(const std::string& title) const {
        const RunResult r = xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"});
        return r.out.substr(0, r.out.find('\n'));
    }

private:
    Process server_;
    std::string name_;
};

int countOf(const std::vector<int>& ids, int id) {
    return static_cast<int>(std::count(ids.begin(), ids.end(), id));
}

}  // namespace

TEST(ClientDesktop, messageIsConfirmedWithTheKeyboardButNotByAnEarlyKey) {
    if (!std::filesystem::exists(kXvfb) || !std::filesystem::exists(kXdotool))
        GTEST_SKIP() << "Xvfb and xdotool are needed";
    PrivateDisplay display;
    ASSERT_FALSE(display.name().empty());

    ClientHarness h;
    auto client = h.start({"--debug"}, {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display.name()}});
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();

    // The test stands in for the server: a text message with the reports-wanted bit.
    h.send(makePacket(1, u"321", u"Fire drill at 11:00\nPlease use the stairs"), Transport::Tcp);
    ASSERT_TRUE(h.peer.waitForCount(1));
    const auto delivered = std::chrono::steady_clock::now();
    EXPECT_EQ(h.reports()[0].report.reportMask, M_REP_DELIVERED);

    std::string wid;
    ASSERT_TRUE(waitFor([&] { return !(wid = display.findWindow("Message")).empty(); }));
    ASSERT_EQ(display.xdotool({"windowfocus", "--sync", wid}).code, 0);

    // Return the moment the window is there: someone was typing elsewhere. It must not
    // confirm the message, which stays on screen.
    ASSERT_EQ(display.xdotool({"key", "Return"}).code, 0);
    const auto pressedAfter = std::chrono::steady_clock::now() - delivered;
    if (pressedAfter < 800ms) {
        EXPECT_FALSE(h.peer.waitForCount(
            2, 1200ms - std::chrono::duration_cast<std::chrono::milliseconds>(pressedAfter)));
        EXPECT_EQ(display.findWindow("Message"), wid);
    } else {
        ADD_FAILURE() << "too slow to press the key within the first second";
    }

    // A quiet second after that key, Return is OK.
    std::this_thread::sleep_for(1200ms);
    ASSERT_EQ(display.xdotool({"key", "Return"}).code, 0);
    ASSERT_TRUE(h.peer.waitForCount(2));
    EXPECT_EQ(h.reports()[1].report.reportMask, M_REP_CONFIRMED);
    EXPECT_EQ(h.reports()[1].report.msgRootId, u"321");
    ASSERT_TRUE(waitFor([&] { return display.findWindow("Message").empty(); }));
    const auto ev = h.events();
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[1].id, 101);
    EXPECT_EQ(ev[2].id, 102);
    EXPECT_EQ(ev[2].strings,
              (std::vector<std::string>{"OPERATOR-PC", "321",
                                        "Fire drill at 11:00\nPlease use the stairs"}));

    client->signal(SIGTERM);
    EXPECT_EQ(client->wait(), 0);
}

TEST(ClientDesktop, consoleMessageIsShownTheSameWayAndNeverReported) {
    if (!std::filesystem::exists(kXvfb) || !std::filesystem::exists(kXdotool))
        GTEST_SKIP() << "Xvfb and xdotool are needed";
    PrivateDisplay display;
    ASSERT_FALSE(display.name().empty());
    ClientHarness h;
    auto client = h.start({"--debug"}, {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display.name()}});
    ASSERT_TRUE(h.waitStarted(*client)) << client->err();

    const RunResult cli = run(binPath("tellwick_cli"),
                              withArgs({"-a", "127.0.0.1", "-p", std::to_string(h.listenPort), "-t",
                                        "From the console|second line", "-m", "tcp", "-l", "en"}));
    ASSERT_EQ(cli.code, 0) << cli.out << cli.err;
    std::string wid;
    ASSERT_TRUE(waitFor([&] { return !(wid = display.findWindow("Message")).empty(); }));
    ASSERT_EQ(display.xdotool({"windowfocus", "--sync", wid}).code, 0);
    // A quiet second after the window came up, Return is OK.
    std::this_thread::sleep_for(1200ms);
    ASSERT_EQ(display.xdotool({"key", "Return"}).code, 0);
    ASSERT_TRUE(waitFor([&] { return countOf(h.eventIds(), 102) == 1; }));
    const auto ev = h.events();
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[1].id, 101);
    EXPECT_EQ(ev[1].strings.at(2), "From the console\nsecond line");
    // A check probe afterwards proves that nothing was reported for the message.
    h.send(makePacket(5, u"322"), Transport::Udp);
    ASSERT_TRUE(h.peer.waitForCount(1));
    EXPECT_EQ(h.reports()[0].report.reportMask, M_REP_ACTIVE);
    EXPECT_EQ(h.peer.count(), 1u);

    client->signal(SIGTERM);
    EXPECT_EQ(client->wait(), 0);
}
