// Screens and the pointer, in global coordinates: origin at the bottom-left of the primary screen,
// y upwards. The first screen is the primary one, whose top-left corner is also the origin of
// accessibility coordinates. Main thread.
#pragma once

#include <optional>
#include <vector>

#include "Desktop/Geometry.h"

namespace desktop {

struct Screen {
    Rect frame;
    // The frame minus the menu bar (and a dock, where there is one).
    Rect visibleFrame;
    bool operator==(const Screen&) const = default;
};

// The first screen, in the system's order, whose frame meets `rect`; the one holding `point`.
inline std::optional<Screen> screenIntersecting(const std::vector<Screen>& screens, const Rect& rect) {
    for (const auto& screen : screens) {
        if (screen.frame.intersects(rect)) return screen;
    }
    return std::nullopt;
}
inline std::optional<Screen> screenContaining(const std::vector<Screen>& screens, Point point) {
    for (const auto& screen : screens) {
        if (screen.frame.contains(point)) return screen;
    }
    return std::nullopt;
}

class Screens {
public:
    virtual ~Screens() = default;
    // All screens, the primary one first; empty when no display is attached.
    virtual std::vector<Screen> screens() const = 0;
    // The screen holding the key window or, failing that, the primary screen.
    virtual std::optional<Screen> mainScreen() const = 0;
    virtual Point mouseLocation() const = 0;
};

}  // namespace desktop
