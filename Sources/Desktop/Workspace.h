// Running applications as the window system sees them: which one is in front, URL opening, and
// this application's own activation and termination. Main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace desktop {

struct RunningApplication {
    std::optional<std::string> bundleID;
    int32_t pid = 0;
    // Other names the system knows the application by, where it has no bundle identifier of the
    // kind the supported-app table holds (on X11: the GTK application ID, the WM_CLASS instance
    // and class, the executable's name).
    std::vector<std::string> identifiers{};
    bool operator==(const RunningApplication&) const = default;
};

// How this application presents itself: a regular app has a Dock icon and an application menu,
// an accessory lives in the menu bar only.
enum class ActivationPolicy { regular, accessory };

class Workspace {
public:
    virtual ~Workspace() = default;
    virtual std::optional<RunningApplication> frontmostApplication() const = 0;
    // Opens a URL (web page or a system settings deep link) in its default handler.
    virtual void open(const std::string& url) = 0;
    // Brings this application to the front, taking focus from other applications.
    virtual void activate() = 0;
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    // Ends this application after the current run-loop turn.
    virtual void terminate() = 0;
};

}  // namespace desktop
