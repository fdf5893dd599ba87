#include "common/platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdlib>

#include "common/platform/diagnostics.h"
#include "common/platform/paths.h"
#include "common/text.h"
#include "tests/platform/helper.h"

namespace reg = tw::platform::registry;
namespace fs = std::filesystem;
using tw::test::readFile;
using tw::test::writeFile;

namespace {

constexpr const char* kClientKey =
    "SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\Tellwick Client";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TELLWICK_REGISTRY", dir.path().c_str(), 1);
        tw::diag::setProgram(tw::diag::kClientIdentity);
    }
    void TearDown() override { unsetenv("TELLWICK_REGISTRY"); }

    fs::path valueFile() const {
        return dir.path() /
               "SYSTEM/CurrentControlSet/services/eventlog/Application/Tellwick "
               "Client/EventMessageFile";
    }
    tw::test::TempDir dir;
};

}  // namespace

TEST_F(RegistryTest, keyPath_oneDirectoryPerComponent_namesAsWritten) {
    EXPECT_EQ(reg::keyPath(kClientKey), dir.path() / "SYSTEM" / "CurrentControlSet" / "services" /
                                            "eventlog" / "Application" / "Tellwick Client");
    unsetenv("TELLWICK_REGISTRY");
    EXPECT_EQ(reg::root(), fs::path("/var/lib/tellwick/registry"));
    setenv("TELLWICK_REGISTRY", "", 1);
    EXPECT_EQ(reg::root(), fs::path("/var/lib/tellwick/registry"));
}

TEST_F(RegistryTest, value_roundTrip_exactBytes_noStrayFiles) {
    EXPECT_FALSE(reg::readValue("A\\B", "V"));
    ASSERT_TRUE(reg::writeValue("A\\B", "V", "/opt/Тест/x"));
    EXPECT_EQ(readFile(dir.path() / "A/B/V"), "/opt/Тест/x");  // no terminator, no newline
    ASSERT_TRUE(reg::writeValue("A\\B", "V", "second"));
    EXPECT_EQ(reg::readValue("A\\B", "V"), "second");
    // The replacement went through a temporary file that must not linger.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "A/B"), fs::directory_iterator()),
              1);
    EXPECT_TRUE(reg::removeValue("A\\B", "V"));
    EXPECT_TRUE(reg::removeValue("A\\B", "V"));
    EXPECT_FALSE(reg::readValue("A\\B", "V"));
}

TEST_F(RegistryTest, register_writesFullProgramPath_whenMissingOrDifferent) {
    const std::string self = tw::platform::programPath().string();
    ASSERT_TRUE(fs::path(self).is_absolute());

    ASSERT_TRUE(tw::diag::registerEventMessageFile());  // key missing
    EXPECT_EQ(readFile(valueFile()), self);

    writeFile(valueFile(), "/old/place/tellwick_client");  // the program has moved
    ASSERT_TRUE(tw::diag::registerEventMessageFile());
    EXPECT_EQ(readFile(valueFile()), self);

    fs::remove(valueFile());  // key there, value gone
    ASSERT_TRUE(tw::diag::registerEventMessageFile());
    EXPECT_EQ(readFile(valueFile()), self);
}

TEST_F(RegistryTest, register_samePathInOtherCase_leavesValueFileAlone) {
    const std::string stored = tw::asciiUpper(tw::platform::programPath().string());
    fs::create_directories(valueFile().parent_path());
    writeFile(valueFile(), stored);
    // An old time stamp makes any rewrite visible even within the same second.
    const timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimes(valueFile().c_str(), old), 0);
    chmod(valueFile().parent_path().c_str(), 0555);
    struct stat before {};
    ASSERT_EQ(stat(valueFile().c_str(), &before), 0);

    EXPECT_TRUE(tw::diag::registerEventMessageFile());

    struct stat after {};
    ASSERT_EQ(stat(valueFile().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(readFile(valueFile()), stored);
    chmod(valueFile().parent_path().c_str(), 0755);
}

TEST_F(RegistryTest, register_keyCannotBeCreated_fails) {
    // A regular file where a key directory should be: no rights can help, not even root's.
    writeFile(dir.path() / "SYSTEM", "");
    EXPECT_FALSE(tw::diag::registerEventMessageFile());
    EXPECT_FALSE(reg::writeValue("SYSTEM\\X", "V", "data"));
}

TEST_F(RegistryTest, registrationFailure_showsEachProgramsBox_andEndsWithItsCode) {
    writeFile(dir.path() / "SYSTEM", "");
    struct Case {
        const char* mode;
        int code;
        std::string err;
    } cases[] = {
        {"register-client", 0, "Error!: Can't create registry key.\rThe program is interrupted.\n"},
        {"register-server", 1, "Error: No key.\nStop.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        auto opts = tw::test::helperOptions(c.mode);
        opts.env["TELLWICK_REGISTRY"] = dir.path().string();
        const auto r = tw::test::run(tw::test::helperPath(), opts);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");  // ended without going on
    }
    fs::remove(dir.path() / "SYSTEM");
    auto opts = tw::test::helperOptions("register-client");
    opts.env["TELLWICK_REGISTRY"] = dir.path().string();
    const auto ok = tw::test::run(tw::test::helperPath(), opts);
    EXPECT_EQ(ok.out, "registered\n");
    EXPECT_EQ(readFile(valueFile()), fs::canonical(tw::test::helperPath()).string());
}
