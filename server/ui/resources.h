#pragma once
// What the server carries inside its program file: the dialog document and the six icons.
#include <QByteArray>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include "server/ui/identifiers.h"

namespace tw::ui {

// The embedded dialog document (UTF-8 XML), to be read with UiDocument::parse.
QByteArray embeddedDialogDocument();

// An embedded text file of the resources folder ("changelog.html"), read as UTF-8; empty
// when there is none.
QString embeddedText(QStringView fileName);

// One of Ico_Config, Ico_Scanner, Ico_Cut, Ico_Copy, Ico_Paste, Ico_Remove, with an alpha
// channel and at its own size (28, 32 and 16 pixels square). Needs a QGuiApplication; a null
// pixmap for any other identifier.
QPixmap loadIcon(Id id);

// The program's own icon (the one the desktop entry names), at 32, 64 and 256 pixels, for
// the window's title bar and the task bar. Needs a QGuiApplication.
QIcon programIcon();

}  // namespace tw::ui
