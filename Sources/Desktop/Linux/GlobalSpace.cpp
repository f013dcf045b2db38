#include "Desktop/Linux/GlobalSpace.h"

#include <cmath>

#include <gdk/gdk.h>

namespace desktop::x11 {

GlobalSpace GlobalSpace::current() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* primary = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!primary && display && gdk_display_get_n_monitors(display) > 0)
        primary = gdk_display_get_monitor(display, 0);
    if (!primary) return {0, 0};
    GdkRectangle geometry;
    gdk_monitor_get_geometry(primary, &geometry);
    return {static_cast<double>(geometry.x), static_cast<double>(geometry.y + geometry.height),
            std::max(1, gdk_monitor_get_scale_factor(primary))};
}

Rect GlobalSpace::toGlobal(const RootRect& r) const {
    return makeRect(r.x - left_, bottom_ - (r.y + r.height), r.width, r.height);
}

RootRect GlobalSpace::toRoot(const Rect& r) const {
    return {static_cast<int>(std::lround(r.minX() + left_)), static_cast<int>(std::lround(bottom_ - r.maxY())),
            static_cast<int>(std::lround(r.width())), static_cast<int>(std::lround(r.height()))};
}

Rect GlobalSpace::pixelsToGlobal(const Rect& pixels) const {
    Rect r = fromPixels(pixels);
    return makeRect(r.minX() - left_, bottom_ - r.maxY(), r.width(), r.height());
}

Point GlobalSpace::pixelsToGlobal(Point pixels) const {
    Point p = fromPixels(pixels);
    return {p.x - left_, bottom_ - p.y};
}

}  // namespace desktop::x11
