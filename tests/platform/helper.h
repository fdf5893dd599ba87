#pragma once
// Starting tellwick_platform_helper in one of its modes.
#include "tests/support/support.h"

namespace tw::test {

inline Process::Options helperOptions(const std::string& mode, std::vector<std::string> args = {},
                                      const std::filesystem::path& workDir = {}) {
    Process::Options o;
    o.args = std::move(args);
    o.env["TELLWICK_HELPER_MODE"] = mode;
    o.workDir = workDir;
    return o;
}

inline std::filesystem::path helperPath() { return binPath("tellwick_platform_helper"); }

}  // namespace tw::test
