#pragma once
// The process's standard streams as the system gives them.
#include <string_view>

namespace tw::platform {

// True when standard output is a terminal (not a file or a pipe).
bool standardOutputIsTerminal();

// Writes `bytes` to standard error in one go where the system allows, so that lines of
// several threads never mix. Failures are silent.
void writeToStandardError(std::string_view bytes);

}  // namespace tw::platform
