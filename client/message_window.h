#pragma once
// The window that puts one message on screen: text sized to itself, centred, above every
// other window, a title bar without buttons, and OK as the only way out.
#include <QElapsedTimer>
#include <QWidget>
#include <chrono>

class QPushButton;

namespace tw::client {

// Plain text, every line centred, drawn literally: no markup, no mnemonics.
class MessageTextView : public QWidget {
    Q_OBJECT
public:
    explicit MessageTextView(const QString& text, QWidget* parent = nullptr);
    const QString& text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

class MessageWindow : public QWidget {
    Q_OBJECT
public:
    // How long after arming Enter and Space are not taken as OK: a user typing elsewhere
    // must not confirm a message unread.
    static constexpr std::chrono::milliseconds kDefaultKeyGuard{1000};

    MessageWindow(const QString& text, const QString& title);

    // Moves the window so that its frame is centred on the primary screen.
    void centreOnScreen();
    // Starts the key guard; until it has passed, keys that would press OK are dropped.
    void armKeyGuard(std::chrono::milliseconds guard = kDefaultKeyGuard);
    // Lets the window go away (hide/close from the program, not from the user).
    void release();

    QPushButton* okButton() const { return ok_; }
    MessageTextView* textView() const { return text_; }

signals:
    void confirmed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    MessageTextView* text_;
    QPushButton* ok_;
    QElapsedTimer guardClock_;
    std::chrono::milliseconds guard_{0};
    bool released_ = false;
    bool centred_ = false;
};

}  // namespace tw::client
