#include "common/platform/window_hints.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWindow>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tw::platform {

namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// Motif window-manager hints, as the window managers that still read them expect.
constexpr std::uint32_t kMwmHintsFunctions = 1u << 0;
constexpr std::uint32_t kMwmHintsDecorations = 1u << 1;
constexpr std::uint32_t kMwmFuncMove = 1u << 2;
constexpr std::uint32_t kMwmDecorBorder = 1u << 1;
constexpr std::uint32_t kMwmDecorTitle = 1u << 3;

xcb_connection_t* x11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The 32-bit items of a window property, empty when it is missing.
std::vector<std::uint32_t> readProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name,
                                        xcb_atom_t type) {
    std::vector<std::uint32_t> items;
    const xcb_get_property_cookie_t cookie = xcb_get_property(c, 0, window, name, type, 0, 64);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    if (reply && reply->format == 32) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        items.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return items;
}

}  // namespace

bool otherFullScreenWindowIsActive(QWindow* window) {
    xcb_connection_t* c = x11Connection();
    if (!window || !c) return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen) return false;
    const auto active =
        readProperty(c, screen->root, internAtom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (active.empty() || active[0] == XCB_WINDOW_NONE ||
        active[0] == static_cast<xcb_window_t>(window->winId()))
        return false;
    const xcb_atom_t fullScreen = internAtom(c, "_NET_WM_STATE_FULLSCREEN");
    for (std::uint32_t state :
         readProperty(c, active[0], internAtom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM))
        if (state == fullScreen) return true;
    return false;
}

void markAsNoticeWindow(QWindow* window) {
    xcb_connection_t* c = x11Connection();
    if (!window || !c) return;
    const auto id = static_cast<xcb_window_t>(window->winId());

    // A toolbar keeps its title bar everywhere, but no window manager offers to minimise or
    // maximise it; openbox decides its buttons by the type alone.
    const xcb_atom_t type = internAtom(c, kNoticeWindowType);
    const xcb_atom_t typeProperty = internAtom(c, "_NET_WM_WINDOW_TYPE");
    if (type != XCB_ATOM_NONE && typeProperty != XCB_ATOM_NONE)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, typeProperty, XCB_ATOM_ATOM, 32, 1,
                            &type);

    // Window managers that read the Motif hints take them literally: move only (no close, no
    // resize, no minimise, no maximise), and a title with a border but no window menu.
    const xcb_atom_t mwm = internAtom(c, "_MOTIF_WM_HINTS");
    if (mwm != XCB_ATOM_NONE) {
        const std::uint32_t hints[5] = {kMwmHintsFunctions | kMwmHintsDecorations, kMwmFuncMove,
                                        kMwmDecorBorder | kMwmDecorTitle, 0, 0};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, mwm, mwm, 32, 5, hints);
    }
    xcb_flush(c);
}

}  // namespace tw::platform
