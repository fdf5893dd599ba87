#include "client/message_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStringList>

#include "client/window_text.h"

namespace tw::client {

MessageTextView::MessageTextView(const QString& text, QWidget* parent)
    : QWidget(parent), text_(text) {
    setObjectName(QStringLiteral("messageText"));
    setAccessibleName(text);
}

void MessageTextView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics fm(font(), this);
    int y = fm.ascent();
    // drawText at a point takes the string as it is: "&" stays "&", "<b>" stays "<b>".
    for (const QString& line : text_.split(u'\n')) {
        p.drawText(QPoint((width() - fm.horizontalAdvance(line)) / 2, y), line);
        y += fm.height();
    }
}

MessageWindow::MessageWindow(const QString& text, const QString& title)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("messageWindow"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(title);
    move(10, 10);

    text_ = new MessageTextView(text, this);
    text_->setFont(messageFont());

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("okButton"));
    // Return on the focused button presses it, as in a dialog.
    ok_->setAutoDefault(true);
    ok_->setDefault(true);
    ok_->installEventFilter(this);
    installEventFilter(this);
    connect(ok_, &QPushButton::clicked, this, &MessageWindow::confirmed);

    const MessageLayout l = layoutMessage(text, QFontMetrics(messageFont(), this));
    setFixedSize(l.innerSize);
    text_->setGeometry(QRect(QPoint(kMargin, kMargin), l.textSize));
    ok_->setGeometry(QRect(l.buttonPos, QSize(kButtonWidth, kButtonHeight)));
    ok_->setFocus();
}

void MessageWindow::centreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    // Before the window is shown the frame is not known yet; the frame that a window manager
    // adds is taken into account once it is there (showEvent).
    const QRect frame = frameGeometry();
    const QPoint topLeft = centredFramePosition(screen->geometry().size(), frame.size());
    move(screen->geometry().topLeft() + topLeft);
}

void MessageWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!centred_) {
        centred_ = true;
        centreOnScreen();
    }
}

void MessageWindow::armKeyGuard(std::chrono::milliseconds guard) {
    guard_ = guard;
    guardClock_.start();
}

void MessageWindow::release() {
    released_ = true;
    hide();
}

void MessageWindow::closeEvent(QCloseEvent* event) {
    // Only OK ends a message; a close from the window manager is refused.
    if (released_)
        event->accept();
    else
        event->ignore();
}

bool MessageWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool pressesOk = key == Qt::Key_Return || key == Qt::Key_Enter ||
                               key == Qt::Key_Space || key == Qt::Key_Select;
        const bool guarded = !guardClock_.isValid() || guardClock_.elapsed() < guard_.count();
        if (pressesOk && guarded) return true;
        // Escape would not close a plain window anyway; keep it that way on every style.
        if (key == Qt::Key_Escape) return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tw::client
