// Which application is in front on an X11 session: the window of _NET_ACTIVE_WINDOW (kept from
// the root window's property changes) or, without a window manager, the input focus walked up to
// the window that has WM_CLASS; its identity, process id and executable. Also URL opening through
// GIO. Main thread. Owned by the Linux desktop.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "Desktop/Bundle.h"
#include "Desktop/Log.h"
#include "Desktop/RunLoop.h"
#include "Desktop/Workspace.h"
#include "Desktop/Linux/XConnection.h"

namespace desktop::x11 {

class LinuxWorkspace final : public Workspace {
public:
    LinuxWorkspace(XConnection& x, const Bundle& ownBundle, RunLoop& runLoop, Log& log);

    std::optional<RunningApplication> frontmostApplication() const override;
    void open(const std::string& url) override;
    // Our windows take the focus when they are made key; there is nothing to raise besides them.
    void activate() override {}
    void setActivationPolicy(ActivationPolicy policy) override { policy_ = policy; }
    void terminate() override;

    // Our windows read it: an accessory keeps them out of the taskbar.
    ActivationPolicy activationPolicy() const { return policy_; }
    // The top-level client window in front (the one carrying WM_CLASS); none without one.
    std::optional<XWindow> frontWindow() const;
    // A grabbed key press went to the window that holds the input focus, which may be ahead of
    // _NET_ACTIVE_WINDOW: from then on the app in front is that window's. `topLevel` is the root's
    // child the press was in, as the server reported it (0: unknown).
    void followFocus(XWindow topLevel);
    // Told after the window in front changed.
    void setFrontChangedHandler(std::function<void()> handler) { onFrontChanged_ = std::move(handler); }

    // The application a top-level client window belongs to.
    std::optional<RunningApplication> applicationOf(XWindow window) const;
    // Its process id: from the X server's client table (XRes), else _NET_WM_PID.
    std::optional<int32_t> pidOf(XWindow window) const;
    // A process's top-level client window, as the window manager lists them; none without one.
    std::optional<XWindow> windowOf(int32_t pid) const;

private:
    void onEvent(const XEvent& event);
    void readActiveWindow();
    // The focused window walked up to its client; a known client is taken without asking again.
    std::optional<XWindow> clientWindowAtFocus(std::optional<XWindow> knownClient = std::nullopt) const;
    // The root's child a window is in: its window manager's frame, or the window itself.
    std::optional<XWindow> topLevelOf(XWindow window) const;
    // None for the root; nothing for a window that is gone.
    std::optional<XWindow> parentOf(XWindow window) const;

    XConnection& x_;
    const Bundle& ownBundle_;
    RunLoop& runLoop_;
    Log& log_;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    // From _NET_ACTIVE_WINDOW; none while the window manager does not set it.
    bool haveActiveWindow_ = false;
    std::optional<XWindow> active_;
    // The root's child the active window is in, read when it changes: a press in it asks nothing.
    std::optional<XWindow> activeTopLevel_;
    std::optional<RunningApplication> activeApp_;
    std::function<void()> onFrontChanged_;
};

// The executable's file name of a process: /proc/PID/exe, else /proc/PID/comm.
std::optional<std::string> executableName(int32_t pid);

}  // namespace desktop::x11
