#pragma once
// Qt drops the window manager's close of a window that a modal dialog
// blocks, before any widget sees it. So the main window could not be closed
// while the progress window is up. This filter reads the X11 close request
// (WM_DELETE_WINDOW) itself, before Qt drops it, and hands the window it is
// for to a handler; Qt then goes on as before.
#include <cstdint>
#include <functional>
#include <memory>

#include <QAbstractNativeEventFilter>

namespace app {

class BlockedCloseFilter : public QAbstractNativeEventFilter {
public:
    // The two atoms of the request: the WM_PROTOCOLS message type and its
    // WM_DELETE_WINDOW protocol.
    struct Atoms {
        std::uint32_t protocols = 0;
        std::uint32_t deleteWindow = 0;
    };
    using Handler = std::function<void(std::uint32_t window)>;

    BlockedCloseFilter(Atoms atoms, Handler onCloseRequest);

    // A filter with the display's atoms when the program runs on X11; none
    // on any other platform (Qt's own handling is all there is there).
    static std::unique_ptr<BlockedCloseFilter> forX11(Handler onCloseRequest);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    Atoms atoms_;
    Handler onCloseRequest_;
};

}  // namespace app
