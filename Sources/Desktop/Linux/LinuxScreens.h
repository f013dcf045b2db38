// Screens and the pointer on an X11 session: monitors from XRandR (the primary one first), their
// visible frames from the window manager's _NET_WORKAREA, all in X pixels turned into the layer's
// global space by GlobalSpace (GTK's units, origin at the primary monitor's bottom-left, y
// upwards). Main thread. Owned by the Linux desktop.
#pragma once

#include "Desktop/Screens.h"
#include "Desktop/Linux/XConnection.h"

namespace desktop::x11 {

class LinuxScreens final : public Screens {
public:
    explicit LinuxScreens(XConnection& x);

    std::vector<Screen> screens() const override;
    // The screen holding the middle of the window in front, else the primary one.
    std::optional<Screen> mainScreen() const override;
    Point mouseLocation() const override;

    // Root-window rectangles in X pixels (origin top-left, y downwards) of the monitors, the
    // primary first.
    std::vector<Rect> monitorRects() const;
    // The layer's point for a root-window point in X pixels.
    Point fromRoot(Point root) const;
    // The root-window coordinates of the primary monitor's top-left corner, in GTK's units.
    Point primaryOrigin() const;
    // Tells the screens which window is in front, for mainScreen().
    void setFrontWindowRect(std::function<std::optional<Rect>()> frontRect) { frontRect_ = std::move(frontRect); }

private:
    // The monitors and the work area in X pixels, read from the server once and again only after
    // it announced a change: placing a panel asks for them at every change of its content.
    struct Layout {
        std::vector<Rect> monitors;
        std::optional<Rect> workArea;
    };
    const Layout& layout() const;
    std::vector<Rect> readMonitors() const;
    std::optional<Rect> readWorkArea() const;
    void onEvent(const XEvent& event);

    XConnection& x_;
    std::function<std::optional<Rect>()> frontRect_;
    int randrEventBase_ = -1;
    mutable std::optional<Layout> known_;
};

}  // namespace desktop::x11
