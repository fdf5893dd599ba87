#pragma once
// Turns a window definition of the dialog document into real widgets: boxes become nested
// layouts, gadgets become Qt widgets named after their identifiers.
#include <QHash>
#include <QPointer>
#include <QWidget>

#include "server/ui/identifiers.h"
#include "server/ui/layout/ui_document.h"

namespace tw::ui {

// The widgets of one opened window, looked up by identifier. It does not own them: the
// window owns its gadgets, and deleting the window frees them all (lookups then give null).
class BuiltWindow {
public:
    BuiltWindow() = default;

    bool isValid() const { return !window_.isNull(); }
    QWidget* window() const { return window_.data(); }
    // The window's own identifier (Window_Main, Dialog_Settings, ...).
    Id id() const { return id_; }

    // The window itself or one of its gadgets; null for an identifier the window lacks.
    QWidget* widget(Id id) const;
    template <class T>
    T* widget(Id id) const {
        return qobject_cast<T*>(widget(id));
    }

private:
    friend class WindowBuilder;
    QPointer<QWidget> window_;
    Id id_ = Id::Window_Main;
    QHash<int, QPointer<QWidget>> widgets_;
};

// Builds the window opened by `name` into `host`, which must have no layout yet: its window
// flags, its layout with every gadget, its minimum or fixed size, and its position when the
// definition says "centered". A QMainWindow host gets the content as its central widget.
// The host is left hidden. Invalid result (host untouched) when there is no such window.
BuiltWindow buildWindow(const UiDocument& doc, QStringView name, QWidget* host);

// Creates the window itself and builds it: a QDialog over `parent`, or a top-level QWidget
// without one. A window with a parent belongs to it; one without belongs to the caller.
// Either way deleting window() closes it and frees all its gadgets.
BuiltWindow openWindow(const UiDocument& doc, QStringView name, QWidget* parent = nullptr);

// Spacing between the children of a box and the gap at its edges when the document does not
// set them.
inline constexpr int kDefaultSpacing = 5;
inline constexpr int kDefaultMargin = 5;

}  // namespace tw::ui
