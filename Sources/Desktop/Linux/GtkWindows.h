// Our windows as GTK 3 toplevels. Panels (the review panel, the pill) are undecorated, keep
// above, and never take the keyboard focus, so the app whose draft they are about keeps it;
// titled windows (sign-in, permission) are ordinary decorated windows whose close button goes
// through the close handler. Each window renders its hosted view tree as widgets and rebuilds
// them when the hosting view announces a change. The modal alert is a GTK message dialog.
// Main thread only. The Linux desktop owns the service; the application owns its windows.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "Desktop/Windows.h"

namespace desktop::x11 {

class GtkWindows final : public Windows {
public:
    // Mouse-downs outside our windows, from the desktop's pointer monitor; none in tests that
    // have no monitor.
    using PointerMonitor = std::function<MonitorToken(std::function<void(const MouseEvent&)>)>;

    explicit GtkWindows(PointerMonitor monitor = nullptr);
    ~GtkWindows() override;

    std::unique_ptr<Window> makeWindow(const WindowConfig& config) override;
    MonitorToken addGlobalMouseDownMonitor(std::function<void(const MouseEvent&)> handler) override;
    void runModalAlert(const Alert& alert) override;

    // Visible windows of ours, in the order they were made.
    std::vector<Window*> visibleWindows() const;

    struct Registry;

private:
    PointerMonitor monitor_;
    std::shared_ptr<Registry> registry_;
};

}  // namespace desktop::x11
