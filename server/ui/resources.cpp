#include "server/ui/resources.h"

#include <QFile>

// The resource sits in a static library: without this call nothing pulls it into the program
// and every lookup comes back empty. Q_INIT_RESOURCE must be used outside any namespace.
static void initServerUiResources() { Q_INIT_RESOURCE(server_ui); }

namespace tw::ui {
namespace {

void ensureResources() {
    // A function-local static runs once, thread-safely, without std::call_once's
    // thread-local state (which would tie the program to the dynamic loader by name).
    [[maybe_unused]] static const bool done = (initServerUiResources(), true);
}

const char* iconFile(Id id) {
    switch (id) {
        case Id::Ico_Config:
            return ":/tellwick/icons/config.png";
        case Id::Ico_Scanner:
            return ":/tellwick/icons/scanner.png";
        case Id::Ico_Cut:
            return ":/tellwick/icons/cut.png";
        case Id::Ico_Copy:
            return ":/tellwick/icons/copy.png";
        case Id::Ico_Paste:
            return ":/tellwick/icons/paste.png";
        case Id::Ico_Remove:
            return ":/tellwick/icons/remove.png";
        default:
            return nullptr;
    }
}

}  // namespace

QByteArray embeddedDialogDocument() {
    ensureResources();
    QFile file(QStringLiteral(":/tellwick/dialogs.xml"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

QString embeddedText(QStringView fileName) {
    ensureResources();
    QFile file(QStringLiteral(":/tellwick/") + fileName.toString());
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

QPixmap loadIcon(Id id) {
    const char* path = iconFile(id);
    if (!path) return {};
    ensureResources();
    return QPixmap(QString::fromLatin1(path));
}

QIcon programIcon() {
    ensureResources();
    QIcon icon;
    for (const int size : {32, 64, 256})
        icon.addFile(QStringLiteral(":/tellwick/icons/hicolor/%1/tellwick-server.png").arg(size));
    return icon;
}

}  // namespace tw::ui
