#pragma once
// What the message window shows and how big it is, kept apart from the widgets so that the
// rules can be checked without a screen.
#include <QFont>
#include <QFontMetrics>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
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
    QStringList lines;  // as shown: the text's own lines, too wide ones wrapped
    QSize textSize;     // the whole text: W x H, or wider when the window had to be widened
    QSize viewSize;     // the text area in the window: the whole text, or for a text too
                        // tall for the screen as many whole lines as fit, and a scroll bar
    QSize innerSize;    // the window's client area
    QPoint buttonPos;   // the OK button (90 x 25)
    bool scrolls() const { return viewSize != textSize; }
};

// What the screen leaves for the text; 0 means no limit.
struct TextLimits {
    int width = 0;
    int height = 0;
    int scrollBarWidth = 0;
};

// Narrowest client area that holds OK with its margins.
inline constexpr int kMinInnerWidth = kMargin + kButtonWidth + kMargin;

// Sizes from the font's own metrics: W is the widest line, H is one line height per line
// (empty lines count); the text sits at (10, 10) and the button under it, centred. So that
// the window and OK stay on the screen, a line wider than the limit is wrapped at spaces (a
// word wider than that between characters), and a text taller than the limit is shown as
// many whole lines as fit, with a scroll bar beside them. A window too narrow for OK is
// widened to hold it, with the lines centred in the wider text area.
MessageLayout layoutMessage(const QString& text, const QFontMetrics& metrics,
                            TextLimits limits = {});

// The room that keeps a message window inside `available` (the screen's area for windows),
// leaving room for the margins, OK and a window manager's frame.
TextLimits textLimitsFor(QSize available, int scrollBarWidth);

// Top-left corner that centres a frame of `outer` on a screen of `screen`; a frame larger
// than the screen counts as the screen's size, so it starts at the screen's edge.
QPoint centredFramePosition(QSize screen, QSize outer);

}  // namespace tw::client
