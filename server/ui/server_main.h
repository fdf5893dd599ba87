#pragma once
// The server program: start-up in its fixed order, the main loop and the close sequence.

namespace tw::ui {

// Runs tellwick_server; the result is the process's exit code: 0 after a normal close, 1 when
// another instance runs, a start-up check fails or the report port is busy, -1 for a broken
// clients database.
int runServer(int argc, char** argv);

}  // namespace tw::ui
