// Our one connection to the X server: X events dispatched from GLib's default main context to
// the services that subscribed, protocol errors trapped instead of ending the process, and a lost
// server turned into a quiet, dead connection. Main thread; the key grab's watchdog may also
// call into Xlib (thread-safe since libX11 1.8). Owned by the Linux desktop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

typedef struct _GSource GSource;
typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

namespace desktop::x11 {

// Xlib's ids, without Xlib's macros (Status, None...) in our headers.
using XWindow = unsigned long;
using XAtom = unsigned long;
using XTime = unsigned long;

class XConnection {
public:
    // Who reads the connection's events: GLib's default main context on the main thread, or the
    // owner itself (dispatchPending) on a thread of its own.
    enum class Dispatch { mainLoop, owner };

    // Opens the display (none: $DISPLAY); isOpen() says whether it worked.
    explicit XConnection(const char* displayName = nullptr, Dispatch dispatch = Dispatch::mainLoop);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    // Puts our process-wide error handlers back in front after a library (GTK) replaced them;
    // errors on displays not ours still reach the replaced handler.
    static void claimErrorHandlers();

    // False when no server could be reached, or once it went away.
    bool isOpen() const { return display_ != nullptr && !lost_; }
    Display* display() const { return display_; }
    XWindow root() const { return root_; }
    XAtom atom(const char* name);

    using Handler = std::function<void(const XEvent&)>;
    // Every event goes to every handler, in subscription order. Handlers live as long as the
    // connection (the services that add them are destroyed before it).
    void addHandler(Handler handler) { handlers_.push_back(std::move(handler)); }
    // Told once when the server went away.
    void setLostHandler(std::function<void()> lost) { onLost_ = std::move(lost); }

    // Runs `requests` and answers the X error code they caused (0 for none); one round trip.
    int trapErrors(const std::function<void()>& requests);

    // A window property as raw items of its format (8, 16 or 32 bits; 32-bit items come as longs).
    struct Property {
        XAtom type = 0;
        int format = 0;
        std::vector<unsigned char> bytes;  // format 8
        std::vector<long> items;           // format 32
    };
    std::optional<Property> property(XWindow window, XAtom name, long maxItems = 1024);
    std::optional<std::string> stringProperty(XWindow window, const char* name);
    std::optional<long> cardinalProperty(XWindow window, const char* name);

    // Dispatches what is queued without waiting.
    void dispatchPending();

private:
    // Xlib's process-wide error handlers, which record errors on our display here.
    friend struct ErrorHooks;
    void markLost();

    Display* display_ = nullptr;
    XWindow root_ = 0;
    bool lost_ = false;
    std::atomic<int> lastError_{0};
    std::map<std::string, XAtom> atoms_;
    std::vector<Handler> handlers_;
    std::function<void()> onLost_;
    GSource* source_ = nullptr;
};

}  // namespace desktop::x11
