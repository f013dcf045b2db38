// Our windows and panels, the modal alert and the global mouse-down monitor. A window shows a
// hosted view tree (ui::HostingView). Main thread only. The application owns the windows it makes;
// the service keeps only their stacking order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "Desktop/Geometry.h"

namespace ui {
class HostingView;
}

namespace desktop {

// Bit masks of the window style, as the platform names them.
namespace windowstyle {
inline constexpr uint32_t borderless = 0;
inline constexpr uint32_t titled = 1 << 0;
inline constexpr uint32_t closable = 1 << 1;
inline constexpr uint32_t resizable = 1 << 3;
inline constexpr uint32_t utilityWindow = 1 << 4;
inline constexpr uint32_t nonactivatingPanel = 1 << 7;
inline constexpr uint32_t fullSizeContentView = 1 << 15;
}  // namespace windowstyle

namespace windowcollection {
inline constexpr uint32_t canJoinAllSpaces = 1 << 0;
inline constexpr uint32_t transient = 1 << 3;
inline constexpr uint32_t fullScreenAuxiliary = 1 << 8;
}  // namespace windowcollection

enum class WindowLevel : int { normal = 0, floating = 3 };
enum class WindowKind { window, panel };
enum class Appearance { system, aqua };

struct WindowConfig {
    WindowKind kind = WindowKind::window;
    // The content rectangle; the frame adds the title bar of a titled window on top of it.
    Rect contentRect;
    uint32_t style = windowstyle::titled;
    std::string title;
    bool titleHidden = false;
    bool titlebarTransparent = false;
    bool movableByWindowBackground = false;
    WindowLevel level = WindowLevel::normal;
    bool floatingPanel = false;
    bool hidesOnDeactivate = false;
    bool becomesKeyOnlyIfNeeded = false;
    bool releasedWhenClosed = true;
    bool opaque = true;
    bool hasShadow = true;
    bool ignoresMouseEvents = false;
    uint32_t collectionBehavior = 0;
    Appearance appearance = Appearance::system;
    // "clear", "white" or "window".
    std::string backgroundColor = "window";
};

class Window {
public:
    virtual ~Window() = default;
    virtual const WindowConfig& config() const = 0;
    virtual Rect frame() const = 0;
    virtual void setFrame(Rect frame) = 0;
    virtual void setFrameOrigin(Point origin) = 0;
    // The part of the window not covered by its title bar, in window coordinates.
    virtual Rect contentLayoutRect() const = 0;
    virtual double titleBarHeight() const = 0;
    virtual bool isVisible() const = 0;
    virtual bool isKey() const = 0;
    // Brings the window forward without activating our application (the workspace's activate()
    // does that), so the app the person writes in keeps the keyboard.
    virtual void orderFront() = 0;
    virtual void makeKeyAndOrderFront() = 0;
    virtual void orderOut() = 0;
    // Called when the person closes the window with its title-bar button, before it goes away.
    virtual void setCloseHandler(std::function<void()> handler) = 0;
    // Centers the window on the main screen's visible frame, slightly above the middle.
    virtual void center() = 0;
    virtual void setContent(std::shared_ptr<ui::HostingView> view) = 0;
    virtual ui::HostingView* content() const = 0;
};

enum class MouseButton { left, right };

struct MouseEvent {
    MouseButton button = MouseButton::left;
    Point location;
};

// A global monitor: alive while the token is.
class MonitorToken {
public:
    MonitorToken() = default;
    explicit MonitorToken(std::function<void()> remove) : remove_(std::move(remove)) {}
    MonitorToken(MonitorToken&& other) noexcept : remove_(std::exchange(other.remove_, nullptr)) {}
    MonitorToken& operator=(MonitorToken&& other) noexcept {
        if (this != &other) {
            reset();
            remove_ = std::exchange(other.remove_, nullptr);
        }
        return *this;
    }
    MonitorToken(const MonitorToken&) = delete;
    MonitorToken& operator=(const MonitorToken&) = delete;
    ~MonitorToken() { reset(); }
    void reset() {
        if (auto remove = std::exchange(remove_, nullptr)) remove();
    }

private:
    std::function<void()> remove_;
};

struct Alert {
    std::string message;
    std::string informativeText;
};

class Windows {
public:
    virtual ~Windows() = default;
    virtual std::unique_ptr<Window> makeWindow(const WindowConfig& config) = 0;
    // Left and right mouse-down events delivered to other applications (not to our windows).
    [[nodiscard]] virtual MonitorToken addGlobalMouseDownMonitor(
        std::function<void(const MouseEvent&)> handler) = 0;
    // Runs a modal alert with one "OK" button until the person dismisses it.
    virtual void runModalAlert(const Alert& alert) = 0;
};

}  // namespace desktop
