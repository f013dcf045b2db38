// The simulated screens and pointer. Main thread.
#pragma once

#include <vector>

#include "Desktop/Screens.h"

namespace desktop::sim {

class SimScreens final : public Screens {
public:
    // Menu bar height, left out of every visible frame.
    static constexpr double kMenuBarHeight = 25;

    // One 1440 × 900 primary screen.
    SimScreens();

    std::vector<Screen> screens() const override { return screens_; }
    std::optional<Screen> mainScreen() const override;
    Point mouseLocation() const override { return mouse_; }

    // Driver verbs, in global coordinates.
    void setPrimary(Size size);
    void addScreen(Rect frame);
    void removeAll() { screens_.clear(); }
    void setMouseLocation(Point location) { mouse_ = location; }

private:
    static Screen screenWithFrame(Rect frame);
    std::vector<Screen> screens_;
    Point mouse_;
};

}  // namespace desktop::sim
