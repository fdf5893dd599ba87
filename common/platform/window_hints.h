#pragma once
// What a window asks of the window manager beyond Qt's own flags. Qt describes a window with
// a title and no buttons well enough for most window managers, but some (openbox among them)
// keep minimise, maximise and close on every ordinary window whatever the window asks; they
// drop them only for other kinds of window.
class QWindow;

namespace tw::platform {

// Marks an unmapped top-level window as a notice that only its own button ends: a title bar,
// no window menu, no buttons, not resizable, not to be minimised or maximised. Call it after
// the native window exists and before it is shown; silent where the desktop has no such hints
// (a native Wayland session, the offscreen platform).
void markAsNoticeWindow(QWindow* window);

// True when the window manager has just made another window active and that window is
// full-screen. Window managers lift a full-screen window above every "stay on top" window
// while it has the focus, so a notice that must stay in sight takes the focus back.
bool otherFullScreenWindowIsActive(QWindow* window);

// The names of the window-manager hints the notice carries, for tests that read them back.
inline constexpr const char* kNoticeWindowType = "_NET_WM_WINDOW_TYPE_TOOLBAR";

}  // namespace tw::platform
