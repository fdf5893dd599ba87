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

MessageLayout layoutMessage(const QString& text, const QFontMetrics& metrics) {
    const QStringList lines = text.split(u'\n');
    int width = 0;
    for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
    const int height = static_cast<int>(lines.size()) * metrics.height();

    MessageLayout l;
    l.textSize = QSize(width, height);
    l.innerSize =
        QSize(kMargin + width + kMargin, kMargin + height + kMargin + kButtonHeight + kMargin);
    l.buttonPos = QPoint(l.innerSize.width() / 2 - kButtonWidth / 2, kMargin + height + kMargin);
    return l;
}

QPoint centredFramePosition(QSize screen, QSize outer) {
    const int w = std::min(outer.width(), screen.width());
    const int h = std::min(outer.height(), screen.height());
    return QPoint((screen.width() - w) / 2, (screen.height() - h) / 2);
}

}  // namespace tw::client
