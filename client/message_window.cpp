#include "client/message_window.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "client/window_text.h"
#include "common/platform/window_hints.h"

namespace tw::client {

namespace {

// The text as screen readers see it: static, read-only, with its characters readable one by
// one; the message with its line feeds, not the wrapped lines.
class MessageTextAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit MessageTextAccessible(MessageTextView* view)
        : QAccessibleWidget(view, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name || t == QAccessible::Value) return view()->text();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override {
        const QString& all = view()->text();
        start = std::clamp(start, 0, static_cast<int>(all.size()));
        end = std::clamp(end, start, static_cast<int>(all.size()));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(view()->text().size()); }
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return QString();
    }

private:
    MessageTextView* view() const { return static_cast<MessageTextView*>(widget()); }
};

// The window is an alert: screen readers announce it when it appears and read its message.
class MessageWindowAccessible : public QAccessibleWidget {
public:
    explicit MessageWindowAccessible(MessageWindow* w)
        : QAccessibleWidget(w, QAccessible::AlertMessage) {}
    QString text(QAccessible::Text t) const override {
        auto* w = static_cast<MessageWindow*>(widget());
        if (t == QAccessible::Name) return w->windowTitle();
        if (t == QAccessible::Description) return w->textView()->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* accessibleFactory(const QString&, QObject* object) {
    if (auto* view = qobject_cast<MessageTextView*>(object)) return new MessageTextAccessible(view);
    if (auto* window = qobject_cast<MessageWindow*>(object))
        return new MessageWindowAccessible(window);
    return nullptr;
}

void installAccessibleFactoryOnce() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)installed;
}

QSize availableArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().size() : QSize();
}

}  // namespace

MessageTextView::MessageTextView(const QString& text, const QStringList& lines, QWidget* parent)
    : QWidget(parent), text_(text), lines_(lines) {
    setObjectName(QStringLiteral("messageText"));
}

void MessageTextView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics fm(font(), this);
    int y = fm.ascent();
    // drawText at a point takes the string as it is: "&" stays "&", "<b>" stays "<b>".
    for (const QString& line : lines_) {
        p.drawText(QPoint((width() - fm.horizontalAdvance(line)) / 2, y), line);
        y += fm.height();
    }
}

MessageWindow::MessageWindow(const QString& text, const QString& title)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowStaysOnTopHint) {
    installAccessibleFactoryOnce();
    setObjectName(QStringLiteral("messageWindow"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(title);
    move(10, 10);

    const QSize available = availableArea();
    const int scrollBarWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const MessageLayout l = layoutMessage(
        text, QFontMetrics(messageFont(), this),
        available.isValid() ? textLimitsFor(available, scrollBarWidth) : TextLimits{});
    text_ = new MessageTextView(text, l.lines, this);
    text_->setFont(messageFont());
    if (l.scrolls()) {
        scroll_ = new QScrollArea(this);
        scroll_->setObjectName(QStringLiteral("messageScroll"));
        scroll_->setFrameShape(QFrame::NoFrame);
        scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        // OK keeps the focus; the keys that scroll are passed on below.
        scroll_->setFocusPolicy(Qt::NoFocus);
        scroll_->verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
        text_->setFixedSize(l.textSize);
        scroll_->setWidget(text_);
        scroll_->setGeometry(QRect(QPoint(kMargin, kMargin), l.viewSize));
    } else {
        text_->setGeometry(QRect(QPoint(kMargin, kMargin), l.textSize));
    }

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("okButton"));
    // Return on the focused button presses it, as in a dialog.
    ok_->setAutoDefault(true);
    ok_->setDefault(true);
    ok_->installEventFilter(this);
    installEventFilter(this);
    connect(ok_, &QPushButton::clicked, this, &MessageWindow::confirmed);

    setFixedSize(l.innerSize);
    ok_->setGeometry(QRect(l.buttonPos, QSize(kButtonWidth, kButtonHeight)));
    ok_->setFocus();

    // The hints go on the native window before it is first mapped; window managers read
    // them only then.
    winId();
    platform::markAsNoticeWindow(windowHandle());
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
        QAccessibleEvent alert(this, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

void MessageWindow::armKeyGuard(std::chrono::milliseconds guard) {
    guard_ = guard;
    lastKey_.start();
}

bool MessageWindow::scrollByKey(int key) {
    QScrollBar* bar = scroll_->verticalScrollBar();
    switch (key) {
        case Qt::Key_Up:
            bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
            return true;
        case Qt::Key_Down:
            bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            return true;
        case Qt::Key_PageUp:
            bar->triggerAction(QAbstractSlider::SliderPageStepSub);
            return true;
        case Qt::Key_PageDown:
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
            return true;
        case Qt::Key_Home:
            bar->triggerAction(QAbstractSlider::SliderToMinimum);
            return true;
        case Qt::Key_End:
            bar->triggerAction(QAbstractSlider::SliderToMaximum);
            return true;
    }
    return false;
}

void MessageWindow::release() {
    released_ = true;
    hide();
}

void MessageWindow::bringBack() {
    bringBackQueued_ = false;
    if (released_) return;
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    show();
    raise();
    activateWindow();
}

void MessageWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Another program's full-screen window took the focus and with it the top of the stack.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() && !released_ &&
        platform::otherFullScreenWindowIsActive(windowHandle())) {
        raise();
        activateWindow();
    }
    // Minimised by a window manager that offers it anyway: with no task bar it would be gone
    // for good.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) &&
        !released_ && !bringBackQueued_) {
        bringBackQueued_ = true;
        QTimer::singleShot(0, this, &MessageWindow::bringBack);
    }
}

void MessageWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Hidden from outside (unmapped by the window manager), not by release().
    if (!released_ && !bringBackQueued_) {
        bringBackQueued_ = true;
        QTimer::singleShot(0, this, &MessageWindow::bringBack);
    }
}

void MessageWindow::closeEvent(QCloseEvent* event) {
    // Only OK ends a message; a close from the window manager is refused.
    if (released_)
        event->accept();
    else
        event->ignore();
}

bool MessageWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool pressesOk = key == Qt::Key_Return || key == Qt::Key_Enter ||
                               key == Qt::Key_Space || key == Qt::Key_Select;
        // Every key pressed here, counted or not, starts the quiet second again: a person
        // typing steadily never confirms by accident.
        const bool quiet = lastKey_.isValid() && lastKey_.elapsed() >= guard_.count();
        if (lastKey_.isValid()) lastKey_.restart();
        if (pressesOk && !quiet) return true;
        if (scroll_ && scrollByKey(key)) return true;
        // Escape would not close a plain window anyway; keep it that way on every style.
        if (key == Qt::Key_Escape) return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tw::client
