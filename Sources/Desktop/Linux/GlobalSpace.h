// Converts between the X server's root window (origin top-left, y down) and our global space
// (origin bottom-left of the primary monitor, y up). Global space counts in GTK's units, so our
// windows keep their size at any GDK scale; X pixels (XRandR, the pointer, window geometry) are
// divided by the scale here and nowhere else. Main thread (reads GDK's monitors).
#pragma once

#include "Desktop/Geometry.h"

namespace desktop::x11 {

// A root-window rectangle in GTK's units.
struct RootRect {
    int x = 0, y = 0, width = 0, height = 0;
};

class GlobalSpace {
public:
    // From the default display's primary monitor (the first one when none is marked primary).
    static GlobalSpace current();
    GlobalSpace(double primaryLeft, double primaryBottom, int scale = 1)
        : left_(primaryLeft), bottom_(primaryBottom), scale_(scale) {}

    Rect toGlobal(const RootRect& rect) const;
    RootRect toRoot(const Rect& rect) const;

    // X pixels, as the X server counts them, in GTK's units.
    int scale() const { return scale_; }
    Point fromPixels(Point pixels) const { return {pixels.x / scale_, pixels.y / scale_}; }
    Rect fromPixels(const Rect& pixels) const {
        return {fromPixels(pixels.origin), {pixels.width() / scale_, pixels.height() / scale_}};
    }
    // A root-window rectangle or point in X pixels, in global space.
    Rect pixelsToGlobal(const Rect& pixels) const;
    Point pixelsToGlobal(Point pixels) const;

private:
    double left_;
    double bottom_;
    int scale_;
};

}  // namespace desktop::x11
