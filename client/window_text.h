#pragma once
// What the message window shows and how big it is, kept apart from the widgets so that the
// rules can be checked without a screen.
#include <QFont>
#include <QFontMetrics>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringView>

namespace tw::client {

inline constexpr int kMargin = 10;
inline constexpr int kButtonWidth = 90;
inline constexpr int kButtonHeight = 25;

// The words of the window title in the language of the current message. They are kept from
// message to message: a packet in a language we do not know shows the previous words.
struct WindowWords {
    enum class Endings { Keep, Russian, English };
    Endings endings = Endings::Keep;
    QString title;   // "Message"
    QString minute;  // "minute"
    QString ago;     // "ago"
    QString ending;  // the plural ending last used
};

// Words for a message in `language` ("RU", "EN"); any other value keeps `previous`, and its
// ending stays as it is for the whole window.
WindowWords chooseWindowWords(QStringView language, const WindowWords& previous);

// The title after `minutes` minutes ("Message 2 minutes ago"); updates words.ending.
QString minuteTitle(WindowWords& words, int minutes);

// "Arial" 10 pt bold.
QFont messageFont();

struct MessageLayout {
    QSize textSize;    // W x H
    QSize innerSize;   // the window's client area
    QPoint buttonPos;  // the OK button (90 x 25)
};

// Sizes from the font's own metrics: W is the widest line, H is one line height per line
// (empty lines count); the text sits at (10, 10) and the button under it, centred.
MessageLayout layoutMessage(const QString& text, const QFontMetrics& metrics);

// Top-left corner that centres a frame of `outer` on a screen of `screen`; a frame larger
// than the screen counts as the screen's size, so it starts at the screen's edge.
QPoint centredFramePosition(QSize screen, QSize outer);

}  // namespace tw::client
