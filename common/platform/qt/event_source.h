#pragma once
// Event-source registration with each program's failure handling: the error box, then the end
// of the program.
#include <QString>

namespace tw::diag {

// Runs registerEventMessageFile(); when the key cannot be created, shows an error box with
// `title` and `text` and ends the process with `exitCode`.
void registerEventSourceOrExit(const QString& title, const QString& text, int exitCode);

// The client's fixed failure handling: box "Error!" (English only), exit code 0.
void registerClientEventSourceOrExit();

}  // namespace tw::diag
