#include "server/ui/layout/gadgets.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QValidator>

namespace tw::ui {
namespace {

class Ipv4Validator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override {
        const QStringList fields = input.split(QLatin1Char('.'));
        if (fields.size() > 4) return Invalid;
        bool complete = fields.size() == 4;
        for (const QString& f : fields) {
            if (f.size() > 3) return Invalid;
            for (QChar c : f)
                if (c < QLatin1Char('0') || c > QLatin1Char('9')) return Invalid;
            if (f.isEmpty()) {
                complete = false;
                continue;
            }
            if (f.toInt() > 255) return Invalid;
        }
        return complete ? Acceptable : Intermediate;
    }
};

}  // namespace

Ipv4Field::Ipv4Field(QWidget* parent) : QLineEdit(parent) {
    setValidator(new Ipv4Validator(this));
    setMaxLength(15);
    setText(QStringLiteral("0.0.0.0"));
}

QString Ipv4Field::address() const { return normalized(text()); }

void Ipv4Field::setAddress(QStringView text) { setText(normalized(text)); }

QString Ipv4Field::normalized(QStringView text) {
    const auto fields = text.split(QLatin1Char('.'));
    QStringList out;
    for (int i = 0; i < 4; ++i) {
        long long value = 0;
        if (i < fields.size()) {
            // A field is read as a number: its leading digits count, the rest is ignored.
            const QStringView f = fields[i].trimmed();
            for (QChar c : f) {
                if (c < QLatin1Char('0') || c > QLatin1Char('9')) break;
                value = std::min<long long>(value * 10 + (c.unicode() - u'0'), 1000);
            }
        }
        out << QString::number(std::min<long long>(value, 255));
    }
    return out.join(QLatin1Char('.'));
}

HyperlinkLabel::HyperlinkLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void HyperlinkLabel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            emit clicked();
            return;
        default:
            QLabel::keyPressEvent(event);
    }
}

void HyperlinkLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    // The focus frame is drawn over the label, so that taking the focus moves nothing.
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.backgroundColor = palette().color(QPalette::Window);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

void HyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

}  // namespace tw::ui
