#include "client/window_text.h"

#include <QStringList>
#include <algorithm>

namespace tw::client {

WindowWords chooseWindowWords(QStringView language, const WindowWords& previous) {
    WindowWords w = previous;
    if (language == u"RU") {
        w.endings = WindowWords::Endings::Russian;
        w.title = QStringLiteral("Сообщение");
        w.minute = QStringLiteral("минут");
        w.ago = QStringLiteral("назад");
    } else if (language == u"EN") {
        w.endings = WindowWords::Endings::English;
        w.title = QStringLiteral("Message");
        w.minute = QStringLiteral("minute");
        w.ago = QStringLiteral("ago");
    } else {
        w.endings = WindowWords::Endings::Keep;
    }
    return w;
}

QString minuteTitle(WindowWords& words, int minutes) {
    switch (words.endings) {
        case WindowWords::Endings::Russian: {
            const int d1 = minutes % 10;
            const int d2 = minutes % 100;
            if (d1 == 1)
                words.ending = QStringLiteral("у");
            else if (d1 >= 2 && d1 <= 4)
                words.ending = QStringLiteral("ы");
            else
                words.ending.clear();
            if (d2 >= 10 && d2 <= 20) words.ending.clear();
            break;
        }
        case WindowWords::Endings::English:
            words.ending = minutes > 1 ? QStringLiteral("s") : QString();
            break;
        case WindowWords::Endings::Keep:
            break;
    }
    return words.title + u' ' + QString::number(minutes) + u' ' + words.minute + words.ending +
           u' ' + words.ago;
}

QFont messageFont() {
    QFont font(QStringLiteral("Arial"), 10, QFont::Bold);
    return font;
}

namespace {

// The longest start of `text` (at least one character, never half a surrogate pair) that is
// at most `maxWidth` wide.
qsizetype fittingPrefix(QStringView text, const QFontMetrics& metrics, int maxWidth) {
    qsizetype n = 1;
    if (text.size() > 1 && text[0].isHighSurrogate()) n = 2;
    while (n < text.size()) {
        qsizetype next = n + 1;
        if (next < text.size() && text[n].isHighSurrogate()) ++next;
        if (metrics.horizontalAdvance(text.left(next).toString()) > maxWidth) break;
        n = next;
    }
    return n;
}

// Greedy wrap of one line at spaces; the spaces at a break go. A word that does not fit a
// line on its own is cut between characters.
void wrapLine(const QString& line, const QFontMetrics& metrics, int maxWidth, QStringList& out) {
    if (maxWidth <= 0 || metrics.horizontalAdvance(line) <= maxWidth) {
        out.append(line);
        return;
    }
    QString current;
    bool started = false;
    for (const QString& word : line.split(u' ')) {
        const QString candidate = started ? current + u' ' + word : word;
        if (metrics.horizontalAdvance(candidate) <= maxWidth) {
            current = candidate;
            started = true;
            continue;
        }
        if (started) out.append(current);
        current = word;
        while (metrics.horizontalAdvance(current) > maxWidth) {
            const qsizetype n = fittingPrefix(current, metrics, maxWidth);
            out.append(current.left(n));
            current = current.mid(n);
        }
        started = true;
    }
    if (started) out.append(current);
}

}  // namespace

MessageLayout layoutMessage(const QString& text, const QFontMetrics& metrics, TextLimits limits) {
    MessageLayout l;
    const auto wrap = [&](int maxWidth) {
        l.lines.clear();
        for (const QString& line : text.split(u'\n')) wrapLine(line, metrics, maxWidth, l.lines);
    };
    const auto heightOf = [&] { return static_cast<int>(l.lines.size()) * metrics.height(); };
    wrap(limits.width);
    bool scrolls = limits.height > 0 && heightOf() > limits.height;
    // The scroll bar takes its width from the lines.
    if (scrolls && limits.width > 0) wrap(std::max(1, limits.width - limits.scrollBarWidth));

    int width = 0;
    for (const QString& line : l.lines) width = std::max(width, metrics.horizontalAdvance(line));
    const int height = heightOf();
    const int textWidth = std::max(width, kMinInnerWidth - 2 * kMargin);
    l.textSize = QSize(textWidth, height);
    l.viewSize = l.textSize;
    if (scrolls) {
        const int visibleLines = std::max(1, limits.height / metrics.height());
        l.viewSize = QSize(textWidth + limits.scrollBarWidth, visibleLines * metrics.height());
    }
    const int viewHeight = l.viewSize.height();
    l.innerSize = QSize(kMargin + l.viewSize.width() + kMargin,
                        kMargin + viewHeight + kMargin + kButtonHeight + kMargin);
    l.buttonPos =
        QPoint(l.innerSize.width() / 2 - kButtonWidth / 2, kMargin + viewHeight + kMargin);
    return l;
}

TextLimits textLimitsFor(QSize available, int scrollBarWidth) {
    // Window managers' side borders are a few pixels and title bars a few dozen; this leaves
    // room for wide ones too.
    constexpr int kSideAllowance = 2 * 8;
    constexpr int kTitleAllowance = 48;
    TextLimits l;
    l.width = std::max(1, available.width() - kSideAllowance - 2 * kMargin);
    l.height = std::max(1, available.height() - kTitleAllowance - 3 * kMargin - kButtonHeight);
    l.scrollBarWidth = scrollBarWidth;
    return l;
}

QPoint centredFramePosition(QSize screen, QSize outer) {
    const int w = std::min(outer.width(), screen.width());
    const int h = std::min(outer.height(), screen.height());
    return QPoint((screen.width() - w) / 2, (screen.height() - h) / 2);
}

}  // namespace tw::client
