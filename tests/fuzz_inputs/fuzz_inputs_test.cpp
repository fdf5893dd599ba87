// Every seed and every input the fuzzers once failed on, run through the same checks in the
// ordinary build, so that a fault found by fuzzing stays fixed without clang.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/checks.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFuzzDir = TELLWICK_FUZZ_DIR;

class KeptInputs : public ::testing::TestWithParam<tw::fuzz::Target> {};

TEST_P(KeptInputs, holdEveryProperty) {
    const tw::fuzz::Target& target = GetParam();
    std::size_t count = 0;
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path dir = kFuzzDir / kind / std::string(target.name);
        if (!fs::is_directory(dir)) continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
            const std::string problem = target.check(
                tw::fuzz::Bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
            EXPECT_EQ(problem, "") << entry.path();
            ++count;
        }
    }
    EXPECT_GT(count, 0u) << "no seeds for " << target.name;
}

INSTANTIATE_TEST_SUITE_P(Fuzz, KeptInputs, ::testing::ValuesIn(tw::fuzz::kTargets),
                         [](const ::testing::TestParamInfo<tw::fuzz::Target>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
