#pragma once
// Gadgets that Qt has no ready widget for: the IPv4 address field and the hyperlink.
#include <QLabel>
#include <QLineEdit>

namespace tw::ui {

// An IPv4 address in dotted form. Typing accepts only digits and dots, at most four fields
// of at most three digits, each field 0..255. Like an address control it always has an
// address: fields left empty read as 0.
class Ipv4Field : public QLineEdit {
    Q_OBJECT
public:
    explicit Ipv4Field(QWidget* parent = nullptr);

    // "a.b.c.d" with every field as a plain number; "0.0.0.0" when empty.
    QString address() const;
    // Takes the four "."-separated fields of `text` as numbers: leading zeros are dropped, a
    // field that is not a number or is missing reads 0, one above 255 reads 255.
    void setAddress(QStringView text);

    // The same reading as setAddress, without a widget.
    static QString normalized(QStringView text);
};

// A clickable caption shown as plain text, never as markup.
class HyperlinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit HyperlinkLabel(const QString& text = {}, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Reachable by Tab and opened by Enter or Space, like a link in a browser.
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tw::ui
