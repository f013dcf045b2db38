#include "Desktop/Linux/XConnection.h"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <glib.h>

#include <cstdio>
#include <memory>
#include <mutex>

namespace desktop::x11 {

namespace {
// Error handlers are process-wide; GTK installs its own for its displays, so ours passes errors on
// other displays to whichever handler came before it.
std::mutex registryMutex;
std::map<Display*, XConnection*>& registry() {
    static std::map<Display*, XConnection*> connections;
    return connections;
}
XErrorHandler previousErrorHandler = nullptr;
XIOErrorHandler previousIOErrorHandler = nullptr;

struct XSource {
    GSource base;
    XConnection* connection;
};

gboolean xPrepare(GSource* source, gint* timeout) {
    auto* connection = reinterpret_cast<XSource*>(source)->connection;
    *timeout = -1;
    if (!connection->isOpen()) return FALSE;
    // Requests made since the last turn must reach the server before we sleep.
    XFlush(connection->display());
    return XPending(connection->display()) > 0;
}

gboolean xCheck(GSource* source) {
    auto* connection = reinterpret_cast<XSource*>(source)->connection;
    return connection->isOpen() && XPending(connection->display()) > 0;
}

gboolean xDispatch(GSource* source, GSourceFunc, gpointer) {
    reinterpret_cast<XSource*>(source)->connection->dispatchPending();
    return G_SOURCE_CONTINUE;
}

GSourceFuncs xSourceFuncs = {xPrepare, xCheck, xDispatch, nullptr, nullptr, nullptr};
}  // namespace

struct ErrorHooks {
    static int onError(Display* display, XErrorEvent* error) {
        {
            std::lock_guard lock(registryMutex);
            auto it = registry().find(display);
            if (it != registry().end()) {
                it->second->lastError_ = error->error_code;
                return 0;
            }
        }
        return previousErrorHandler ? previousErrorHandler(display, error) : 0;
    }
    static int onIOError(Display* display) {
        {
            std::lock_guard lock(registryMutex);
            // Ours: the exit handler below keeps the process alive.
            if (registry().contains(display)) return 0;
        }
        // GTK's display: its handler ends the process, so say why first. Nothing is lost with
        // it: the defaults are written on every change and the session lives in the keyring.
        std::fputs("Kestrel: the X display closed; quitting\n", stderr);
        return previousIOErrorHandler ? previousIOErrorHandler(display) : 0;
    }
    static void onIOErrorExit(Display*, void* data) { static_cast<XConnection*>(data)->markLost(); }
};

XConnection::XConnection(const char* displayName, Dispatch dispatch) {
    // The key grab's watchdog calls into Xlib from its own thread. libX11 1.8 does this on its
    // own; asking again costs nothing.
    XInitThreads();
    display_ = XOpenDisplay(displayName);
    if (!display_) return;
    root_ = DefaultRootWindow(display_);
    {
        std::lock_guard lock(registryMutex);
        registry()[display_] = this;
    }
    claimErrorHandlers();
    XSetIOErrorExitHandler(display_, &ErrorHooks::onIOErrorExit, this);
    if (dispatch == Dispatch::owner) return;
    source_ = g_source_new(&xSourceFuncs, sizeof(XSource));
    reinterpret_cast<XSource*>(source_)->connection = this;
    g_source_set_name(source_, "kestrel X events");
    g_source_add_unix_fd(source_, ConnectionNumber(display_), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
    g_source_attach(source_, nullptr);
}

void XConnection::claimErrorHandlers() {
    std::lock_guard lock(registryMutex);
    auto previous = XSetErrorHandler(&ErrorHooks::onError);
    if (previous != &ErrorHooks::onError) previousErrorHandler = previous;
    auto previousIO = XSetIOErrorHandler(&ErrorHooks::onIOError);
    if (previousIO != &ErrorHooks::onIOError) previousIOErrorHandler = previousIO;
}

XConnection::~XConnection() {
    if (source_) {
        g_source_destroy(source_);
        g_source_unref(source_);
    }
    if (!display_) return;
    {
        std::lock_guard lock(registryMutex);
        registry().erase(display_);
    }
    // A lost connection is closed too: XCloseDisplay frees the client side without talking.
    XCloseDisplay(display_);
}

Atom XConnection::atom(const char* name) {
    auto it = atoms_.find(name);
    if (it != atoms_.end()) return it->second;
    Atom atom = isOpen() ? XInternAtom(display_, name, False) : None;
    atoms_.emplace(name, atom);
    return atom;
}

void XConnection::markLost() {
    if (lost_) return;
    lost_ = true;
    if (source_) g_source_destroy(source_);
    if (onLost_) onLost_();
}

int XConnection::trapErrors(const std::function<void()>& requests) {
    if (!isOpen()) return BadImplementation;
    lastError_ = 0;
    requests();
    XSync(display_, False);
    return lost_ ? BadImplementation : lastError_.load();
}

std::optional<XConnection::Property> XConnection::property(::Window window, Atom name, long maxItems) {
    if (!isOpen() || !window) return std::nullopt;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    int status = Success;
    int error = trapErrors([&] {
        status = XGetWindowProperty(display_, window, name, 0, maxItems, False, AnyPropertyType, &type,
                                    &format, &count, &after, &data);
    });
    std::unique_ptr<unsigned char, decltype(&XFree)> owned(data, &XFree);
    if (error || status != Success || type == None || !data) return std::nullopt;
    Property property{type, format, {}, {}};
    if (format == 8) property.bytes.assign(data, data + count);
    else if (format == 32) {
        auto* longs = reinterpret_cast<long*>(data);
        property.items.assign(longs, longs + count);
    }
    return property;
}

std::optional<std::string> XConnection::stringProperty(::Window window, const char* name) {
    auto value = property(window, atom(name), 4096);
    if (!value || value->format != 8) return std::nullopt;
    std::string text(value->bytes.begin(), value->bytes.end());
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return std::nullopt;
    return text;
}

std::optional<long> XConnection::cardinalProperty(::Window window, const char* name) {
    auto value = property(window, atom(name), 1);
    if (!value || value->format != 32 || value->items.empty()) return std::nullopt;
    return value->items.front();
}

void XConnection::dispatchPending() {
    while (isOpen() && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        for (auto& handler : handlers_) handler(event);
    }
}

}  // namespace desktop::x11
