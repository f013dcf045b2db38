#include "Desktop/Linux/LinuxScreens.h"

#include "Desktop/Linux/GlobalSpace.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <memory>

namespace desktop::x11 {

LinuxScreens::LinuxScreens(XConnection& x) : x_(x) {
    if (!x_.isOpen()) return;
    int errorBase = 0;
    if (XRRQueryExtension(x_.display(), &randrEventBase_, &errorBase))
        XRRSelectInput(x_.display(), x_.root(), RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(x_.display(), x_.root(), &attributes))
        XSelectInput(x_.display(), x_.root(), attributes.your_event_mask | PropertyChangeMask);
    x_.addHandler([this](const XEvent& event) { onEvent(event); });
}

void LinuxScreens::onEvent(const XEvent& event) {
    bool randr = randrEventBase_ >= 0 && (event.type == randrEventBase_ + RRScreenChangeNotify ||
                                          event.type == randrEventBase_ + RRNotify);
    bool area = event.type == PropertyNotify && event.xproperty.window == x_.root() &&
                (event.xproperty.atom == x_.atom("_NET_WORKAREA") ||
                 event.xproperty.atom == x_.atom("_NET_CURRENT_DESKTOP"));
    if (randr || area) known_.reset();
}

std::vector<Rect> LinuxScreens::readMonitors() const {
    std::vector<Rect> rects;
    int count = 0;
    std::unique_ptr<XRRMonitorInfo, decltype(&XRRFreeMonitors)> monitors(
        XRRGetMonitors(x_.display(), x_.root(), True, &count), &XRRFreeMonitors);
    for (int i = 0; monitors && i < count; ++i) {
        const auto& m = monitors.get()[i];
        Rect rect{{static_cast<double>(m.x), static_cast<double>(m.y)},
                  {static_cast<double>(m.width), static_cast<double>(m.height)}};
        if (m.primary) rects.insert(rects.begin(), rect);
        else rects.push_back(rect);
    }
    if (rects.empty()) {
        // No RandR monitors (a bare server): the root window is the one screen.
        ::Screen* screen = DefaultScreenOfDisplay(x_.display());
        rects.push_back(Rect{{0, 0}, {static_cast<double>(WidthOfScreen(screen)), static_cast<double>(HeightOfScreen(screen))}});
    }
    return rects;
}

const LinuxScreens::Layout& LinuxScreens::layout() const {
    if (!x_.isOpen()) known_ = Layout{};
    else if (!known_) known_ = Layout{readMonitors(), readWorkArea()};
    return *known_;
}

std::vector<Rect> LinuxScreens::monitorRects() const { return layout().monitors; }

Point LinuxScreens::primaryOrigin() const {
    auto rects = monitorRects();
    return rects.empty() ? Point{} : GlobalSpace::current().fromPixels(rects.front().origin);
}

Point LinuxScreens::fromRoot(Point root) const { return GlobalSpace::current().pixelsToGlobal(root); }

std::optional<Rect> LinuxScreens::readWorkArea() const {
    auto desktop = x_.cardinalProperty(x_.root(), "_NET_CURRENT_DESKTOP").value_or(0);
    auto area = x_.property(x_.root(), x_.atom("_NET_WORKAREA"), 4 * 64);
    if (!area || area->format != 32) return std::nullopt;
    size_t at = static_cast<size_t>(std::max<long>(desktop, 0)) * 4;
    if (area->items.size() < at + 4) return std::nullopt;
    return Rect{{static_cast<double>(area->items[at]), static_cast<double>(area->items[at + 1])},
                {static_cast<double>(area->items[at + 2]), static_cast<double>(area->items[at + 3])}};
}

std::vector<Screen> LinuxScreens::screens() const {
    const auto& [rects, area] = layout();
    std::vector<Screen> screens;
    if (rects.empty()) return screens;
    auto space = GlobalSpace::current();
    for (const auto& rect : rects) {
        Rect visible = rect;
        if (area) {
            double left = std::max(rect.origin.x, area->origin.x);
            double top = std::max(rect.origin.y, area->origin.y);
            double right = std::min(rect.origin.x + rect.size.width, area->origin.x + area->size.width);
            double bottom = std::min(rect.origin.y + rect.size.height, area->origin.y + area->size.height);
            if (right > left && bottom > top) visible = Rect{{left, top}, {right - left, bottom - top}};
        }
        screens.push_back(Screen{space.pixelsToGlobal(rect), space.pixelsToGlobal(visible)});
    }
    return screens;
}

std::optional<Screen> LinuxScreens::mainScreen() const {
    auto all = screens();
    if (all.empty()) return std::nullopt;
    if (auto front = frontRect_ ? frontRect_() : std::nullopt) {
        Point middle = fromRoot({front->origin.x + front->size.width / 2, front->origin.y + front->size.height / 2});
        if (auto screen = screenContaining(all, middle)) return screen;
    }
    return all.front();
}

Point LinuxScreens::mouseLocation() const {
    if (!x_.isOpen()) return {};
    ::Window rootReturn, child;
    int rootX = 0, rootY = 0, winX, winY;
    unsigned mask;
    XQueryPointer(x_.display(), x_.root(), &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask);
    return fromRoot({static_cast<double>(rootX), static_cast<double>(rootY)});
}

}  // namespace desktop::x11
