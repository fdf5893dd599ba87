#include <gtest/gtest.h>
#include <unistd.h>

#include <QString>
#include <chrono>
#include <cstdlib>

#include "common/platform/display.h"
#include "common/platform/host_names.h"
#include "common/platform/message_box.h"
#include "common/platform/paths.h"
#include "common/text.h"

TEST(ConfigPath, backslashesAreSeparators) {
    struct Case {
        const char* text;
        const char* path;
    } cases[] = {
        {".\\clients.xml", "./clients.xml"},
        {"data\\sub\\templates.ini", "data/sub/templates.ini"},
        {"already/unix.xml", "already/unix.xml"},
        {"Клиенты\\база.xml", "Клиенты/база.xml"},
    };
    for (const auto& c : cases) EXPECT_EQ(tw::platform::fromConfigPath(c.text).string(), c.path);
}

TEST(ProgramPath, isTheRunningFile) {
    const auto p = tw::platform::programPath();
    EXPECT_TRUE(p.is_absolute());
    EXPECT_TRUE(std::filesystem::equivalent(p, "/proc/self/exe"));
}

TEST(HostNames, netbiosIsUpperCasedUpToFirstDot_fqdnFitsIn64) {
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const std::string h = host;
    EXPECT_EQ(tw::platform::netbiosName(), tw::asciiUpper(h.substr(0, h.find('.'))));
    const std::string fqdn = tw::platform::fqdnName();
    EXPECT_FALSE(fqdn.empty());
    EXPECT_LE(fqdn.size(), 64u);
    EXPECT_EQ(fqdn, tw::asciiUpper(fqdn));
}

TEST(MessageBox, nonInteractive_writesTitleAndTextToStderr_returnsAtOnce) {
    ASSERT_STREQ(std::getenv("TELLWICK_NONINTERACTIVE"), "1");
    tw::platform::clearShownBoxes();
    ::testing::internal::CaptureStderr();
    tw::platform::showMessageBox(QStringLiteral("Ошибка"), QStringLiteral("first\nsecond <b>x</b>"),
                                 tw::platform::BoxIcon::Error);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Ошибка: first\nsecond <b>x</b>\n");
    // The box that was kept quiet is still the one a test can read back.
    const auto box = tw::platform::lastShown();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, QStringLiteral("Ошибка"));
    EXPECT_EQ(box->text, QStringLiteral("first\nsecond <b>x</b>"));
    EXPECT_EQ(box->icon, tw::platform::BoxIcon::Error);
    EXPECT_EQ(box->buttons, QList<tw::platform::BoxButton>{tw::platform::BoxButton::Ok});
}

TEST(MessageBox, hookAnswersOneBoxOnly_andCountsEveryBox) {
    tw::platform::clearShownBoxes();
    EXPECT_FALSE(tw::platform::lastShown());
    ::testing::internal::CaptureStderr();
    tw::platform::setNextAnswer();
    tw::platform::showMessageBox(QStringLiteral("A"), QStringLiteral("one"));
    tw::platform::showMessageBox(QStringLiteral("B"), QStringLiteral("two"),
                                 tw::platform::BoxIcon::Warning);
    // The hook's answer does not silence the standard-error line.
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "A: one\nB: two\n");
    EXPECT_EQ(tw::platform::shownBoxCount(), 2);
    ASSERT_TRUE(tw::platform::lastShown());
    EXPECT_EQ(tw::platform::lastShown()->title, QStringLiteral("B"));
    EXPECT_EQ(tw::platform::lastShown()->icon, tw::platform::BoxIcon::Warning);
    tw::platform::clearShownBoxes();
    EXPECT_EQ(tw::platform::shownBoxCount(), 0);
    EXPECT_FALSE(tw::platform::lastShown());
}

TEST(DisplayWake, isSilent) {
    setenv("DISPLAY", ":97", 1);  // no such display: the tools fail, quietly and elsewhere
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    tw::platform::wakeDisplay();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    unsetenv("DISPLAY");
}
