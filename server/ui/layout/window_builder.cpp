#include "server/ui/layout/window_builder.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QSplitter>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeWidget>

#include "server/ui/layout/gadgets.h"

namespace tw::ui {
namespace {

// The window's outermost layout. The definition's minwidth/minheight are a floor under what
// the boxes need; the layout reports the larger so that Qt enforces it on the window.
class WindowLayout : public QVBoxLayout {
public:
    WindowLayout(QWidget* parent, QSize floor) : QVBoxLayout(parent), floor_(floor) {}
    QSize minimumSize() const override { return QVBoxLayout::minimumSize().expandedTo(floor_); }
    QSize sizeHint() const override { return QVBoxLayout::sizeHint().expandedTo(floor_); }

private:
    QSize floor_;
};

QSizePolicy::Policy policyFor(bool grows) {
    return grows ? QSizePolicy::Expanding : QSizePolicy::Fixed;
}

// A child's requested size is the least it gets; a child that may not grow in a direction
// keeps exactly its requested (or natural) size there.
void applySize(QWidget* w, const UiNode& n, bool growH, bool growV) {
    w->setSizePolicy(policyFor(growH), policyFor(growV));
    if (n.minWidth >= 0) w->setMinimumWidth(n.minWidth);
    if (n.minHeight >= 0) w->setMinimumHeight(n.minHeight);
    if (n.width >= 0) {
        if (growH)
            w->setMinimumWidth(std::max(n.width, n.minWidth));
        else
            w->setFixedWidth(n.width);
    }
    if (n.height >= 0) {
        if (growV)
            w->setMinimumHeight(std::max(n.height, n.minHeight));
        else
            w->setFixedHeight(n.height);
    }
}

int orDefault(int value, int fallback) { return value >= 0 ? value : fallback; }

}  // namespace

class WindowBuilder {
public:
    explicit WindowBuilder(BuiltWindow& out) : out_(out) {}

    void build(const UiNode& def, QWidget* host) {
        out_.window_ = host;
        out_.id_ = *def.id;
        remember(def, host);

        applyWindowFlags(def, host);

        QWidget* content = host;
        if (auto* main = qobject_cast<QMainWindow*>(host)) {
            content = new QWidget(main);
            main->setCentralWidget(content);
        }
        auto* layout =
            new WindowLayout(content, QSize(std::max(def.minWidth, 0), std::max(def.minHeight, 0)));
        const int margin = orDefault(def.margin, 0);
        layout->setContentsMargins(margin, margin, margin, margin);
        layout->setSpacing(0);
        placeSingle(layout, def.children.front(), true);
        const bool resizable = def.flags & FlagResizable;
        layout->setSizeConstraint(resizable ? QLayout::SetMinimumSize : QLayout::SetFixedSize);
        layout->activate();

        if (def.flags & FlagCentered) centre(host);
    }

private:
    static void applyWindowFlags(const UiNode& def, QWidget* host) {
        Qt::WindowFlags f = qobject_cast<QDialog*>(host) ? Qt::Dialog : Qt::Window;
        f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (def.flags & FlagSystemMenu) f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (def.flags & FlagMinimizeBox) f |= Qt::WindowMinimizeButtonHint;
        if (def.flags & FlagMaximizeBox) f |= Qt::WindowMaximizeButtonHint;
        if (!(def.flags & FlagResizable)) f |= Qt::MSWindowsFixedSizeDialogHint;
        host->setWindowFlags(f);
    }

    static void centre(QWidget* host) {
        host->adjustSize();
        QScreen* screen = host->parentWidget() ? host->parentWidget()->screen() : nullptr;
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (!screen) return;
        const QRect area = screen->availableGeometry();
        host->move(area.center() - QPoint(host->width() / 2, host->height() / 2));
    }

    void remember(const UiNode& n, QWidget* w) {
        if (!n.id) return;
        w->setObjectName(objectName(*n.id));
        out_.widgets_.insert(static_cast<int>(*n.id), w);
    }

    // One child filling the layout in both directions, or kept at its own size: centred,
    // or at the top left.
    void placeSingle(QBoxLayout* layout, const UiNode& child, bool fill) {
        QWidget* w = make(child);
        const bool grows = fill && !child.alignCenter;
        applySize(w, child, grows, grows);
        Qt::Alignment align;
        if (child.alignCenter)
            align = Qt::AlignCenter;
        else if (!grows)
            align = Qt::AlignLeft | Qt::AlignTop;
        layout->addWidget(w, 1, align);
    }

    QWidget* makeBox(const UiNode& n) {
        auto* box = new QWidget;
        const bool vertical = n.kind == NodeKind::VBox;
        auto* layout =
            new QBoxLayout(vertical ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight, box);
        const int margin = orDefault(n.margin, kDefaultMargin);
        layout->setContentsMargins(margin, margin, margin, margin);
        layout->setSpacing(orDefault(n.spacing, kDefaultSpacing));
        for (std::size_t i = 0; i < n.children.size(); ++i) {
            const UiNode& c = n.children[i];
            QWidget* w = make(c);
            bool along = true;
            if (n.expand.mode == Expand::Mode::None) along = false;
            if (n.expand.mode == Expand::Mode::Item) along = static_cast<int>(i) == n.expand.item;
            const bool across = !c.alignCenter;
            if (vertical)
                applySize(w, c, across, along);
            else
                applySize(w, c, along, across);
            Qt::Alignment align;
            if (c.alignCenter) align = vertical ? Qt::AlignHCenter : Qt::AlignVCenter;
            layout->addWidget(w, along ? 1 : 0, align);
        }
        // Nobody takes the extra space: it stays after the last child.
        if (n.expand.mode == Expand::Mode::None) layout->addStretch(1);
        return box;
    }

    QWidget* makeSplitter(const UiNode& n) {
        const bool sideBySide = n.flags & FlagVertical;
        auto* splitter = new QSplitter(sideBySide ? Qt::Horizontal : Qt::Vertical);
        splitter->setChildrenCollapsible(false);
        const int mins[2] = {n.firstMin, n.secondMin};
        for (int i = 0; i < 2; ++i) {
            const UiNode& c = n.children[static_cast<std::size_t>(i)];
            QWidget* w = make(c);
            applySize(w, c, true, true);
            // An explicit minimum wins over the widget's own minimum size hint, so the part
            // can be dragged down to exactly this size and no further.
            if (sideBySide)
                w->setMinimumWidth(std::max({mins[i], c.width, c.minWidth, 1}));
            else
                w->setMinimumHeight(std::max({mins[i], c.height, c.minHeight, 1}));
            splitter->addWidget(w);
            splitter->setStretchFactor(i, 1);
        }
        return splitter;
    }

    QWidget* makeFrame(const UiNode& n) {
        auto* frame = new QGroupBox(n.text);
        if (!n.children.empty()) {
            auto* layout = new QVBoxLayout(frame);
            const int margin = orDefault(n.margin, kDefaultMargin);
            layout->setContentsMargins(margin, margin, margin, margin);
            placeSingle(layout, n.children.front(), true);
        }
        return frame;
    }

    QWidget* makeSingleBox(const UiNode& n) {
        auto* box = new QWidget;
        auto* layout = new QVBoxLayout(box);
        const int margin = orDefault(n.margin, kDefaultMargin);
        layout->setContentsMargins(margin, margin, margin, margin);
        layout->setSpacing(0);
        placeSingle(layout, n.children.front(), n.expand.mode != Expand::Mode::None);
        return box;
    }

    static QWidget* makeGadget(const UiNode& n) {
        switch (n.kind) {
            case NodeKind::Editor:
                if (n.flags & FlagReadOnly) return new QTextBrowser;
                return new QPlainTextEdit;
            case NodeKind::ListView:
                return new QListWidget;
            case NodeKind::Tree: {
                auto* tree = new QTreeWidget;
                tree->setColumnCount(1);
                tree->setHeaderHidden(true);
                return tree;
            }
            case NodeKind::Spin: {
                auto* spin = new QSpinBox;
                spin->setRange(n.min, n.max);
                return spin;
            }
            case NodeKind::ComboBox:
                return new QComboBox;
            case NodeKind::Button:
                return new QPushButton(n.text);
            case NodeKind::ButtonImage: {
                auto* button = new QToolButton;
                button->setText(n.text);
                button->setToolButtonStyle(Qt::ToolButtonIconOnly);
                return button;
            }
            case NodeKind::CheckBox:
                return new QCheckBox(n.text);
            case NodeKind::IpAddress:
                return new Ipv4Field;
            case NodeKind::Text: {
                auto* label = new QLabel;
                label->setTextFormat(Qt::PlainText);
                label->setText(n.text);
                return label;
            }
            case NodeKind::Hyperlink: {
                auto* link = new HyperlinkLabel(n.text);
                if (n.flags & FlagUnderline) {
                    QFont font = link->font();
                    font.setUnderline(true);
                    link->setFont(font);
                }
                return link;
            }
            default:
                return new QWidget;  // empty: a gap of its requested size
        }
    }

    QWidget* make(const UiNode& n) {
        QWidget* w = nullptr;
        switch (n.kind) {
            case NodeKind::VBox:
            case NodeKind::HBox:
                w = makeBox(n);
                break;
            case NodeKind::SingleBox:
                w = makeSingleBox(n);
                break;
            case NodeKind::Splitter:
                w = makeSplitter(n);
                break;
            case NodeKind::Frame:
                w = makeFrame(n);
                break;
            default:
                w = makeGadget(n);
                break;
        }
        remember(n, w);
        return w;
    }

    BuiltWindow& out_;
};

QWidget* BuiltWindow::widget(Id id) const { return widgets_.value(static_cast<int>(id)).data(); }

BuiltWindow buildWindow(const UiDocument& doc, QStringView name, QWidget* host) {
    BuiltWindow built;
    const UiNode* def = doc.window(name);
    if (!def || !host) return built;
    auto* main = qobject_cast<QMainWindow*>(host);
    if (main ? main->centralWidget() != nullptr : host->layout() != nullptr) return built;
    WindowBuilder(built).build(*def, host);
    return built;
}

BuiltWindow openWindow(const UiDocument& doc, QStringView name, QWidget* parent) {
    if (!doc.window(name)) return {};
    QWidget* host = parent ? new QDialog(parent) : new QWidget;
    return buildWindow(doc, name, host);
}

}  // namespace tw::ui
