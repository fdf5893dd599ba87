#include "common/platform/console.h"

#include <unistd.h>

#include "common/platform/posix/write_all.h"

namespace tw::platform {

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void writeToStandardError(std::string_view bytes) { (void)posix::writeAll(STDERR_FILENO, bytes); }

}  // namespace tw::platform
