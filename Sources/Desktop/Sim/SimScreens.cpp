#include "Desktop/Sim/SimScreens.h"

namespace desktop::sim {

SimScreens::SimScreens() { setPrimary({1440, 900}); }

std::optional<Screen> SimScreens::mainScreen() const {
    if (screens_.empty()) return std::nullopt;
    return screens_.front();
}

Screen SimScreens::screenWithFrame(Rect frame) {
    Rect visible = frame;
    visible.size.height = std::max(0.0, frame.height() - kMenuBarHeight);
    return Screen{frame, visible};
}

void SimScreens::setPrimary(Size size) {
    auto primary = screenWithFrame(Rect{{0, 0}, size});
    if (screens_.empty()) screens_.push_back(primary);
    else screens_.front() = primary;
}

void SimScreens::addScreen(Rect frame) { screens_.push_back(screenWithFrame(frame)); }

}  // namespace desktop::sim
