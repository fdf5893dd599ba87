#include <gtest/gtest.h>

#include <set>

#include "tests/platform/helper.h"

namespace fs = std::filesystem;

namespace {

tw::test::RunResult startClient(const fs::path& dir, std::vector<std::string> args) {
    return tw::test::run(tw::test::helperPath(),
                         tw::test::helperOptions("debug", std::move(args), dir));
}

}  // namespace

TEST(DebugLog, onlyExactFirstArgument_switchesItOn) {
    const std::vector<std::vector<std::string>> off = {
        {}, {"--DEBUG"}, {"-debug"}, {"--debug "}, {"debug"}, {"x", "--debug"}, {"--debug=1"}};
    for (const auto& args : off) {
        tw::test::TempDir dir;
        EXPECT_EQ(startClient(dir.path(), args).code, 0);
        EXPECT_FALSE(fs::exists(dir / "debug_client.log")) << (args.empty() ? "" : args[0]);
    }
    tw::test::TempDir dir;
    EXPECT_EQ(startClient(dir.path(), {"--debug", "more"}).code, 0);
    EXPECT_TRUE(fs::exists(dir / "debug_client.log"));
}

TEST(DebugLog, withoutSwitch_existingLogIsNotTouched) {
    tw::test::TempDir dir;
    tw::test::writeFile(dir / "debug_client.log", "old\r\n");
    startClient(dir.path(), {"--Debug"});
    EXPECT_EQ(tw::test::readFile(dir / "debug_client.log"), "old\r\n");
}

TEST(DebugLog, secondStartTruncates_linesFromThreadsStayWhole) {
    tw::test::TempDir dir;
    ASSERT_EQ(startClient(dir.path(), {"--debug"}).code, 0);
    ASSERT_EQ(startClient(dir.path(), {"--debug"}).code, 0);
    const std::string log = tw::test::readFile(dir / "debug_client.log");

    // Exactly the second start's 401 lines, each whole and ended by CR LF.
    std::set<std::string> expected;
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 100; ++i)
            expected.insert("LISTEN: thread " + std::to_string(t) + " line " + std::to_string(i));
    std::size_t start = 0, lines = 0;
    bool sawCyrillic = false;
    while (start < log.size()) {
        const auto end = log.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "unterminated line";
        const std::string line = log.substr(start, end - start);
        if (line == "Привет") {
            sawCyrillic = true;
        } else {
            EXPECT_EQ(expected.erase(line), 1u) << "broken or repeated line: " << line;
        }
        ++lines;
        start = end + 2;
    }
    EXPECT_EQ(lines, 401u);
    EXPECT_TRUE(expected.empty());
    EXPECT_TRUE(sawCyrillic);
}
