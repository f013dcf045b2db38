#include "Desktop/Linux/MouseDownMonitor.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace desktop::x11 {

MouseDownMonitor::MouseDownMonitor(XConnection& x, const LinuxScreens& screens, std::function<bool(::Window)> isOurs)
    : x_(x),
      screens_(screens),
      isOurs_(std::move(isOurs)),
      handlers_(std::make_shared<Handlers>(Handlers{this, {}})) {
    if (!x_.isOpen()) return;
    int event, error;
    if (!XQueryExtension(x_.display(), "XInputExtension", &opcode_, &event, &error)) {
        opcode_ = -1;
        return;
    }
    int major = 2, minor = 0;
    if (XIQueryVersion(x_.display(), &major, &minor) != Success) {
        opcode_ = -1;
        return;
    }
    x_.addHandler([this](const XEvent& e) { onEvent(e); });
}

MouseDownMonitor::~MouseDownMonitor() { handlers_->monitor = nullptr; }

void MouseDownMonitor::select(bool on) {
    if (opcode_ < 0 || !x_.isOpen()) return;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) XISetMask(bits, XI_RawButtonPress);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(x_.display(), x_.root(), &mask, 1);
    XFlush(x_.display());
}

MonitorToken MouseDownMonitor::add(std::function<void(const MouseEvent&)> handler) {
    uint64_t id = nextID_++;
    if (handlers_->byID.empty()) select(true);
    handlers_->byID[id] = std::move(handler);
    return MonitorToken([handlers = handlers_, id] {
        handlers->byID.erase(id);
        // Raw events wake us on every click anywhere: listen only while someone wants them.
        if (handlers->byID.empty() && handlers->monitor) handlers->monitor->select(false);
    });
}

void MouseDownMonitor::onEvent(const XEvent& event) {
    if (event.type != GenericEvent || event.xcookie.extension != opcode_ || event.xcookie.evtype != XI_RawButtonPress)
        return;
    XGenericEventCookie cookie = event.xcookie;
    if (!XGetEventData(x_.display(), &cookie)) return;
    int button = static_cast<XIRawEvent*>(cookie.data)->detail;
    XFreeEventData(x_.display(), &cookie);
    if (button != Button1 && button != Button3) return;

    ::Window rootReturn, child = None;
    int rootX = 0, rootY = 0, winX, winY;
    unsigned mask;
    XQueryPointer(x_.display(), x_.root(), &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask);
    if (child != None && isOurs_ && isOurs_(child)) return;
    MouseEvent mouse{button == Button1 ? MouseButton::left : MouseButton::right,
                     screens_.fromRoot({static_cast<double>(rootX), static_cast<double>(rootY)})};
    auto handlers = handlers_->byID;  // a handler may remove itself
    for (const auto& [id, handler] : handlers) handler(mouse);
}

}  // namespace desktop::x11
