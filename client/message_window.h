#pragma once
// The window that puts one message on screen: text sized to itself, centred, above every
// other window, a title bar without buttons, and OK as the only way out.
#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>
#include <chrono>

class QPushButton;
class QScrollArea;

namespace tw::client {

// Plain text, every line centred, drawn literally: no markup, no mnemonics. Screen readers
// get it as read-only static text.
class MessageTextView : public QWidget {
    Q_OBJECT
public:
    MessageTextView(const QString& text, const QStringList& lines, QWidget* parent = nullptr);
    // The message as it came, line feeds included.
    const QString& text() const { return text_; }
    // The lines as drawn (long ones wrapped).
    const QStringList& lines() const { return lines_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QStringList lines_;
};

class MessageWindow : public QWidget {
    Q_OBJECT
public:
    // Enter and Space press OK only after this long without any key pressed in the window:
    // someone typing elsewhere when the message pops up must not confirm it unread.
    static constexpr std::chrono::milliseconds kDefaultKeyGuard{1000};

    MessageWindow(const QString& text, const QString& title);

    // Moves the window so that its frame is centred on the primary screen.
    void centreOnScreen();
    // Starts the key guard: from now on a key that presses OK counts only after a quiet
    // `guard` with no key pressed in the window.
    void armKeyGuard(std::chrono::milliseconds guard = kDefaultKeyGuard);
    // Lets the window go away (hide/close from the program, not from the user).
    void release();

    QPushButton* okButton() const { return ok_; }
    MessageTextView* textView() const { return text_; }
    // The scroll area around a text too tall for the screen, or null.
    QScrollArea* scrollArea() const { return scroll_; }

signals:
    void confirmed();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Back on screen, normal size, on top and active: nobody may lose the message.
    void bringBack();
    // Up, Down, Page Up, Page Down, Home and End move a text too tall for the screen.
    bool scrollByKey(int key);

    MessageTextView* text_;
    QScrollArea* scroll_ = nullptr;
    QPushButton* ok_;
    QElapsedTimer lastKey_;
    std::chrono::milliseconds guard_{0};
    bool released_ = false;
    bool centred_ = false;
    bool bringBackQueued_ = false;
};

}  // namespace tw::client
