#pragma once
// Message boxes (Qt): title and text always also go to standard error as "<title>: <text>";
// with TELLWICK_NONINTERACTIVE=1 nothing is shown and the call returns at once.
// Lives in the small tellwick_platform_qt target so that the rest stays free of Qt Widgets.
#include <QList>
#include <QString>
#include <optional>

namespace tw::platform {

enum class BoxIcon { None, Error, Warning, Information };
// The buttons a box can carry; every box of the programs has OK alone.
enum class BoxButton { Ok };

void showMessageBox(const QString& title, const QString& text, BoxIcon icon = BoxIcon::None);

// What a box call asked for, whether it was shown, answered by the hook or kept quiet.
struct ShownBox {
    QString title;
    QString text;
    BoxIcon icon = BoxIcon::None;
    QList<BoxButton> buttons;
};

// Test hook: the next box is not shown but answered at once with `answer`, as if the user had
// pressed it (its standard-error line is still written). One box only; from any thread.
void setNextAnswer(BoxButton answer = BoxButton::Ok);
// The last box asked for since the start or the last clearShownBoxes(); nothing when none.
std::optional<ShownBox> lastShown();
// How many boxes were asked for since the start or the last clearShownBoxes().
int shownBoxCount();
void clearShownBoxes();

}  // namespace tw::platform
