// Converts between X root-window pixels (origin top-left, y down) and our global space (origin
// bottom-left of the primary monitor, y up). Main thread (reads GDK's monitors).
#pragma once

#include "Desktop/Geometry.h"

namespace desktop::x11 {

struct RootRect {
    int x = 0, y = 0, width = 0, height = 0;
};

class GlobalSpace {
public:
    // From the default display's primary monitor (the first one when none is marked primary).
    static GlobalSpace current();
    GlobalSpace(double primaryLeft, double primaryBottom)
        : left_(primaryLeft), bottom_(primaryBottom) {}

    Rect toGlobal(const RootRect& rect) const;
    RootRect toRoot(const Rect& rect) const;

private:
    double left_;
    double bottom_;
};

}  // namespace desktop::x11
