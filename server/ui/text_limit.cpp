#include "server/ui/text_limit.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace tw::ui {

TextLimit::TextLimit(QPlainTextEdit* editor, int maxChars)
    : QObject(editor), editor_(editor), max_(maxChars) {
    // The insertion is noted when the document reports it and cut once the edit is complete,
    // so the document is never changed in the middle of its own change.
    connect(editor->document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int added) {
                if (trimming_) return;
                insertedAt_ = position;
                inserted_ = added;
            });
    connect(editor, &QPlainTextEdit::textChanged, this, &TextLimit::trim);
}

void TextLimit::trim() {
    if (trimming_) return;
    const int position = insertedAt_, added = inserted_;
    insertedAt_ = -1;
    inserted_ = 0;
    QTextDocument* doc = editor_->document();
    // characterCount() includes the paragraph separator that closes the last line.
    const int length = doc->characterCount() - 1;
    const int excess = length - max_;
    if (excess <= 0) return;
    // The document may report the whole text as replaced (it counts its last separator
    // then); clamp the insertion to the text that exists. Without a known insertion the end
    // of the text goes.
    const int end = position < 0 ? length : std::min(position + std::max(added, 0), length);
    int start = std::max(end - excess, std::max(position, 0));
    if (end - start < excess) start = std::max(0, end - excess);
    // Never leave half of a surrogate pair behind.
    if (start > 0 && doc->characterAt(start - 1).isHighSurrogate()) --start;
    trimming_ = true;
    QTextCursor cursor(doc);
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    trimming_ = false;
    emit limitReached();
}

}  // namespace tw::ui
