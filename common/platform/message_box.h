#pragma once
// Message boxes (Qt): title and text always also go to standard error as "<title>: <text>";
// with TELLWICK_NONINTERACTIVE=1 nothing is shown and the call returns at once.
// Lives in the small tellwick_platform_qt target so that the rest stays free of Qt Widgets.
#include <QString>

namespace tw::platform {

enum class BoxIcon { None, Error, Warning, Information };

void showMessageBox(const QString& title, const QString& text, BoxIcon icon = BoxIcon::None);

}  // namespace tw::platform
