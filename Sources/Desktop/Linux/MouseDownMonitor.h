// The global mouse-down monitor on X11: XInput2 raw button presses on the root window, reported
// with the pointer's location when they land outside our own windows. The GTK windows service
// hands it out as addGlobalMouseDownMonitor. Main thread. Owned by the Linux desktop.
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "Desktop/Windows.h"
#include "Desktop/Linux/LinuxScreens.h"
#include "Desktop/Linux/XConnection.h"

namespace desktop::x11 {

class MouseDownMonitor {
public:
    // `isOurs` tells whether a top-level window at the pointer belongs to this process.
    MouseDownMonitor(XConnection& x, const LinuxScreens& screens, std::function<bool(XWindow)> isOurs);
    ~MouseDownMonitor();
    MouseDownMonitor(const MouseDownMonitor&) = delete;
    MouseDownMonitor& operator=(const MouseDownMonitor&) = delete;

    [[nodiscard]] MonitorToken add(std::function<void(const MouseEvent&)> handler);

private:
    void onEvent(const XEvent& event);
    void select(bool on);

    XConnection& x_;
    const LinuxScreens& screens_;
    std::function<bool(XWindow)> isOurs_;
    int opcode_ = -1;
    uint64_t nextID_ = 0;
    // Shared with the tokens, which may outlive the monitor: its destructor clears `monitor`.
    struct Handlers {
        MouseDownMonitor* monitor;
        std::map<uint64_t, std::function<void(const MouseEvent&)>> byID;
    };
    std::shared_ptr<Handlers> handlers_;
};

}  // namespace desktop::x11
