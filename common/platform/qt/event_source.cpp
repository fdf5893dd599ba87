#include "common/platform/qt/event_source.h"

#include <cstdlib>

#include "common/platform/diagnostics.h"
#include "common/platform/message_box.h"

namespace tw::diag {

void registerEventSourceOrExit(const QString& title, const QString& text, int exitCode) {
    if (registerEventMessageFile()) return;
    platform::showMessageBox(title, text, platform::BoxIcon::Error);
    std::exit(exitCode);
}

void registerClientEventSourceOrExit() {
    registerEventSourceOrExit(
        QStringLiteral("Error!"),
        QStringLiteral("Can't create registry key.\rThe program is interrupted."), 0);
}

}  // namespace tw::diag
