#include "Desktop/Linux/LinuxDesktop.h"

#include <X11/Xlib.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include "Desktop/Linux/GlobalSpace.h"
#include "Desktop/Linux/LinuxWording.h"

namespace desktop::x11 {

namespace {
std::unique_ptr<Http> makeHttp(Network network) {
    if (network == Network::loopbackOnly) return std::make_unique<LoopbackHttp>();
    return std::make_unique<CurlHttp>();
}
}  // namespace

bool LinuxDesktop::displayReachable() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

LinuxDesktop::LinuxDesktop(LinuxOptions options)
    : bundle_(kApplicationId, KESTREL_VERSION, options.resourceDirectory),
      log_(options.echoLog),
      defaults_(options.defaultsFile, [this](std::string line) { log_.write(std::move(line)); }),
      http_(makeHttp(options.network)),
      x_(options.display ? options.display->c_str() : nullptr),
      workspace_(x_, bundle_, runLoop_, log_),
      accessibility_(log_, AtspiAccessibility::Geometry{[this] { return frontWindowFrame(); },
                                                        [this] { return screens_.primaryOrigin(); }}),
      events_(x_, log_),
      mouseDownMonitor_(x_, screens_, [this](::Window window) { return isOurWindow(window); }),
      windows_([this](std::function<void(const MouseEvent&)> handler) {
          return mouseDownMonitor_.add(std::move(handler));
      }),
      statusBar_(kApplicationId),
      loginItems_(kApplicationId, options.executable),
      executor_(std::make_unique<Executor>(2)) {
    // Our windows, the clipboard and the status item's menu are GTK's.
    if (!gtk_init_check(nullptr, nullptr)) log_.write("Kestrel: GTK could not open the display; no windows can be shown");
    // GTK's handler ends the process on any lost connection; ours keeps it for GTK's own display.
    XConnection::claimErrorHandlers();
    screens_.setFrontWindowRect([this] { return frontWindowRect(); });
    // What the gate wants grabbed depends on the app in front and on what the last turn changed.
    workspace_.setFrontChangedHandler([this] { events_.updateGrabs(); });
    // Each grabbed press is decided for the app whose window has the keyboard focus; the keyboard
    // is frozen from the press on, so that is where the press was typed.
    events_.setPressHandler([this](XWindow focusedTopLevel) { workspace_.followFocus(focusedTopLevel); });
    driver_.setAfterTurn([this] { events_.updateGrabs(); });
    x_.setLostHandler([this] {
        log_.write("Kestrel: the X server went away; reading drafts and holding Send stop until relaunch");
    });
    if (!x_.isOpen()) log_.write("Kestrel: no X server answers on DISPLAY; reading drafts and holding Send are off");
}

Wording LinuxDesktop::wording() const { return linuxWording(); }

LinuxDesktop::~LinuxDesktop() {
    // Requests in flight end now rather than at their timeouts, so the executor joins at once.
    http_->shutDown();
    executor_.reset();
    driver_.setAfterTurn(nullptr);
}

std::optional<Rect> LinuxDesktop::frontWindowRect() {
    auto window = workspace_.frontWindow();
    return window ? windowRect(*window) : std::nullopt;
}

std::optional<Rect> LinuxDesktop::windowRect(XWindow window) {
    if (!x_.isOpen()) return std::nullopt;
    XWindowAttributes attributes;
    int x = 0, y = 0;
    ::Window child;
    bool known = false;
    int error = x_.trapErrors([&] {
        known = XGetWindowAttributes(x_.display(), window, &attributes) &&
                XTranslateCoordinates(x_.display(), window, x_.root(), 0, 0, &x, &y, &child);
    });
    if (error || !known) return std::nullopt;
    return Rect{{static_cast<double>(x), static_cast<double>(y)},
                {static_cast<double>(attributes.width), static_cast<double>(attributes.height)}};
}

std::optional<Rect> LinuxDesktop::frontWindowFrame() {
    auto rect = frontWindowRect();
    if (!rect) return std::nullopt;
    // Accessible extents count in the toolkit's units.
    return GlobalSpace::current().fromPixels(*rect);
}

bool LinuxDesktop::isOurWindow(::Window window) {
    // The window under the pointer is the window manager's frame: look for the client inside.
    for (int depth = 0; depth < 4 && window != None; ++depth) {
        if (x_.property(window, x_.atom("WM_CLASS"), 64)) return workspace_.pidOf(window) == getpid();
        ::Window rootReturn, parent, *children = nullptr;
        unsigned count = 0;
        int error = x_.trapErrors([&] { XQueryTree(x_.display(), window, &rootReturn, &parent, &children, &count); });
        ::Window first = (!error && count > 0) ? children[count - 1] : None;
        if (children) XFree(children);
        window = first;
    }
    return false;
}

}  // namespace desktop::x11
