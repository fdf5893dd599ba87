#pragma once
// Holds a plain-text editor to a number of characters, however the text arrives (typing,
// paste, drop, a template loaded into it): what goes beyond the limit is cut off the end of
// the insertion, and limitReached() tells the window to beep.
#include <QObject>

class QPlainTextEdit;

namespace tw::ui {

class TextLimit : public QObject {
    Q_OBJECT
public:
    // Becomes a child of `editor`.
    TextLimit(QPlainTextEdit* editor, int maxChars);

    int maxChars() const { return max_; }

signals:
    // An insertion was cut (or refused) because the text is full.
    void limitReached();

private:
    void trim();

    QPlainTextEdit* editor_;
    int max_;
    bool trimming_ = false;
    int insertedAt_ = -1, inserted_ = 0;  // the last insertion, cut in trim()
};

}  // namespace tw::ui
