#include "common/platform/single_instance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "tests/platform/helper.h"

using tw::platform::SingleInstance;

TEST(SingleInstance, heldByOneProcess_refusesSecond_freeAfterSigkill) {
    tw::test::TempDir runtime;
    auto opts = tw::test::helperOptions("lock", {"hold"});
    opts.env["XDG_RUNTIME_DIR"] = runtime.path().string();
    const auto helper = tw::test::helperPath();

    tw::test::Process first(helper, opts);
    ASSERT_TRUE(tw::test::waitFor([&] { return first.out() == "Acquired\n"; })) << first.out();
    EXPECT_TRUE(std::filesystem::exists(runtime / "Tellwick Client.lock"));

    auto second = tw::test::run(helper, opts);
    EXPECT_EQ(second.out, "AlreadyRunning\n");

    first.signal(SIGKILL);
    ASSERT_TRUE(first.wait());
    opts.args.clear();
    auto third = tw::test::run(helper, opts);
    EXPECT_EQ(third.out, "Acquired\n");
}

TEST(SingleInstance, withoutRuntimeDir_usesPrivateTmpFolder) {
    const std::string dir = "/tmp/tellwick-" + std::to_string(getuid());
    auto opts = tw::test::helperOptions("lock");
    opts.unsetEnv = {"XDG_RUNTIME_DIR"};
    const auto r = tw::test::run(tw::test::helperPath(), opts);
    // A client started elsewhere without XDG_RUNTIME_DIR may hold the same lock right now.
    EXPECT_TRUE(r.out == "Acquired\n" || r.out == "AlreadyRunning\n") << r.out;
    struct stat st {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(std::filesystem::exists(dir + "/Tellwick Client.lock"));
}

TEST(SingleInstance, lockFileCannotBeCreated_isUnavailable_sameProcessIsRefused) {
    tw::test::TempDir runtime;
    setenv("XDG_RUNTIME_DIR", (runtime / "missing").c_str(), 1);
    SingleInstance none;
    EXPECT_EQ(none.acquire("Tellwick Server"), SingleInstance::Result::Unavailable);

    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    {
        SingleInstance a, b;
        EXPECT_EQ(a.acquire("Tellwick Server"), SingleInstance::Result::Acquired);
        EXPECT_EQ(b.acquire("Tellwick Server"), SingleInstance::Result::AlreadyRunning);
        EXPECT_EQ(b.acquire("Tellwick Client"), SingleInstance::Result::Acquired);
    }
    SingleInstance c;  // released when the holder went
    EXPECT_EQ(c.acquire("Tellwick Server"), SingleInstance::Result::Acquired);
    unsetenv("XDG_RUNTIME_DIR");
}
