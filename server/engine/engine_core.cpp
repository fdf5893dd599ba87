#include "server/engine/engine_core.h"

#include <QTime>

#include "common/platform/diagnostics.h"

namespace tw::server::engine {

void debugLine(const QString& line) {
    if (!tw::diag::debugEnabled()) return;
    tw::diag::debugLog(std::u16string_view(reinterpret_cast<const char16_t*>(line.utf16()),
                                           static_cast<std::size_t>(line.size())));
}

QString timeOfDay() { return QTime::currentTime().toString(QStringLiteral("hh:mm:ss")); }

QString toQString(const std::u16string& s) { return QString::fromStdU16String(s); }

std::u16string toU16(const QString& s) { return s.toStdU16String(); }

}  // namespace tw::server::engine
