#include "common/platform/message_box.h"

#include <QApplication>
#include <QByteArray>
#include <QMessageBox>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/platform/console.h"

namespace tw::platform {

namespace {

// The test hook's state; boxes may be asked for from worker threads.
std::mutex hookMutex;
std::optional<BoxButton> nextAnswer;
std::optional<ShownBox> lastBox;
int boxCount = 0;

// Records the box and tells whether the hook answers it.
bool recordAndTakeAnswer(const QString& title, const QString& text, BoxIcon icon) {
    std::lock_guard lock(hookMutex);
    lastBox = ShownBox{title, text, icon, {BoxButton::Ok}};
    ++boxCount;
    const bool answered = nextAnswer.has_value();
    nextAnswer.reset();
    return answered;
}

void writeToStderr(const QString& title, const QString& text) {
    // One write, so that lines of several threads never mix.
    const QByteArray line = title.toUtf8() + ": " + text.toUtf8() + "\n";
    writeToStandardError(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
}

void showBox(const QString& title, const QString& text, BoxIcon icon) {
    QMessageBox box;
    box.setWindowTitle(title);
    // Box texts may carry names and texts from the network: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (icon) {
        case BoxIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case BoxIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case BoxIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case BoxIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

}  // namespace

void showMessageBox(const QString& title, const QString& text, BoxIcon icon) {
    writeToStderr(title, text);
    if (recordAndTakeAnswer(title, text, icon)) return;
    const char* quiet = std::getenv("TELLWICK_NONINTERACTIVE");
    if (quiet && std::strcmp(quiet, "1") == 0) return;
    // Without a widget application (a console start, an early failure) the standard-error
    // line is all there is.
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) return;
    if (QThread::currentThread() == app->thread()) {
        showBox(title, text, icon);
    } else {
        // Widgets belong to the user-interface thread; a worker waits for the OK there.
        QMetaObject::invokeMethod(
            app, [&] { showBox(title, text, icon); }, Qt::BlockingQueuedConnection);
    }
}

void setNextAnswer(BoxButton answer) {
    std::lock_guard lock(hookMutex);
    nextAnswer = answer;
}

std::optional<ShownBox> lastShown() {
    std::lock_guard lock(hookMutex);
    return lastBox;
}

int shownBoxCount() {
    std::lock_guard lock(hookMutex);
    return boxCount;
}

void clearShownBoxes() {
    std::lock_guard lock(hookMutex);
    lastBox.reset();
    boxCount = 0;
    nextAnswer.reset();
}

}  // namespace tw::platform
