#include "platform/desktop/windowframe.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

// On X11 through the window manager's hints; elsewhere (Wayland, offscreen) nothing is
// asked and no border is known of.

namespace {

template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_connection_t* x11Connection() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    const ReplyPtr<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

} // namespace

void askForBorderWithoutTitle(QWidget& window) {
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    const xcb_atom_t motifHints = atom(connection, "_MOTIF_WM_HINTS");
    if (motifHints == XCB_ATOM_NONE)
        return;
    // The Motif hints: which of the fields below count, the window manager's functions
    // (moving only), the decorations (the border only), the input mode and the status.
    constexpr uint32_t kFunctionsAndDecorations = 1 | 2;
    constexpr uint32_t kMoveOnly = 4;
    constexpr uint32_t kBorderOnly = 2;
    const uint32_t hints[5] = {kFunctionsAndDecorations, kMoveOnly, kBorderOnly, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(window.winId()), motifHints, motifHints, 32, 5,
                        hints);
    xcb_flush(connection);
}

bool windowManagerDrawsBorder(const QWidget& window) {
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window.internalWinId())
        return false;
    const xcb_atom_t frameExtents = atom(connection, "_NET_FRAME_EXTENTS");
    if (frameExtents == XCB_ATOM_NONE)
        return false;
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, static_cast<xcb_window_t>(window.internalWinId()),
                         frameExtents, XCB_ATOM_CARDINAL, 0, 4);
    const ReplyPtr<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &std::free);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 16)
        return false;
    // Left, right, top and bottom.
    const auto* extents = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return extents[0] || extents[1] || extents[2] || extents[3];
}
