// One libFuzzer target; TELLWICK_FUZZ_CHECK names the check of checks.h it runs.
#include <cstdio>
#include <cstdlib>

#include "fuzz/checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = tw::fuzz::TELLWICK_FUZZ_CHECK(tw::fuzz::Bytes(data, size));
    if (!problem.empty()) {
        // Reported as a crash, so that libFuzzer keeps the input.
        std::fprintf(stderr, "property failed: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
