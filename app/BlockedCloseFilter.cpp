#include "app/BlockedCloseFilter.h"

#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

#include <QGuiApplication>

namespace app {
namespace {

std::uint32_t internAtom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply) return 0;
    const std::uint32_t atom = reply->atom;
    std::free(reply);
    return atom;
}

}  // namespace

BlockedCloseFilter::BlockedCloseFilter(Atoms atoms, Handler onCloseRequest)
    : atoms_(atoms), onCloseRequest_(std::move(onCloseRequest)) {}

std::unique_ptr<BlockedCloseFilter> BlockedCloseFilter::forX11(Handler onCloseRequest) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return nullptr;
    const Atoms atoms{internAtom(connection, "WM_PROTOCOLS"), internAtom(connection, "WM_DELETE_WINDOW")};
    if (atoms.protocols == 0 || atoms.deleteWindow == 0) return nullptr;
    return std::make_unique<BlockedCloseFilter>(atoms, std::move(onCloseRequest));
}

bool BlockedCloseFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    // The top bit marks an event sent by another client, as this one is.
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
    const auto* request = static_cast<const xcb_client_message_event_t*>(message);
    if (request->format == 32 && request->type == atoms_.protocols && request->data.data32[0] == atoms_.deleteWindow &&
        onCloseRequest_)
        onCloseRequest_(request->window);
    // Qt still handles it as it always does.
    return false;
}

}  // namespace app
