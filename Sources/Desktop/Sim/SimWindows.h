// The simulated windows: frames, stacking order and visibility kept in memory, clicks routed to
// the front-most window under the pointer and otherwise to the global monitors, alerts recorded.
// Main thread.
#pragma once

#include <expected>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Desktop/Screens.h"
#include "Desktop/Windows.h"

namespace desktop::sim {

class SimWindows final : public Windows {
public:
    static constexpr double kTitleBarHeight = 28;
    static constexpr double kUtilityTitleBarHeight = 22;

    explicit SimWindows(const Screens& screens);
    ~SimWindows() override;

    std::unique_ptr<Window> makeWindow(const WindowConfig& config) override;
    MonitorToken addGlobalMouseDownMonitor(std::function<void(const MouseEvent&)> handler) override;
    void runModalAlert(const Alert& alert) override { alerts_.push_back(alert); }

    // Driver verbs and inspection.
    // Visible windows, the front-most first.
    std::vector<Window*> visibleWindows() const;
    struct Click {
        Window* window = nullptr;  // none: the click went to the desktop or another app
        bool control = false;      // it pressed or focused a control
    };
    // A mouse-down at a global point: our windows first (the front-most one under it, whose
    // hosted view gets it), otherwise the global monitors see it.
    std::expected<Click, std::string> click(Point location, MouseButton button = MouseButton::left);
    // The title bar's close button of a visible, closable window.
    std::expected<void, std::string> pressCloseButton(Window& window);
    const std::vector<Alert>& alerts() const { return alerts_; }

    struct Registry;

private:
    const Screens& screens_;
    std::shared_ptr<Registry> registry_;
    std::vector<Alert> alerts_;
};

}  // namespace desktop::sim
