// The desktop layer on a real X11 session: GLib's default main context drives the run loop, X
// events, AT-SPI signals and GTK on the main thread; the workspace, accessibility, key events,
// screens and the global mouse-down monitor are the real ones, and so are our GTK windows, the
// status item, the clipboard, the keyring and the autostart entry. Main thread, except the
// executor. The program (or a test) owns it and installs it with an InstallGuard.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "Desktop/Desktop.h"
#include "Desktop/FileDefaults.h"
#include "Desktop/Linux/AtspiAccessibility.h"
#include "Desktop/Linux/GLibRunLoop.h"
#include "Desktop/Linux/GtkPasteboard.h"
#include "Desktop/Linux/GtkWindows.h"
#include "Desktop/Linux/IndicatorStatusBar.h"
#include "Desktop/Linux/LinuxBundle.h"
#include "Desktop/Linux/LinuxEvents.h"
#include "Desktop/Linux/LinuxScreens.h"
#include "Desktop/Linux/LinuxWorkspace.h"
#include "Desktop/Linux/MouseDownMonitor.h"
#include "Desktop/Linux/SecretServiceStore.h"
#include "Desktop/Linux/XConnection.h"
#include "Desktop/Linux/XdgLoginItems.h"
#include "Desktop/LoopbackHttp.h"
#include "Desktop/MemoryLog.h"

namespace desktop::x11 {

enum class Network { any, loopbackOnly };

struct LinuxOptions {
    // The X display to use; none: $DISPLAY.
    std::optional<std::string> display{};
    // Where the user defaults live; none keeps them in memory.
    std::optional<std::filesystem::path> defaultsFile{};
    std::optional<std::filesystem::path> resourceDirectory{};
    // Tests reach only loopback hosts, and their requests are recorded.
    Network network = Network::any;
    // Log lines also go to standard error.
    bool echoLog = true;
    // The program that an autostart entry starts.
    std::filesystem::path executable = "kestrel";
};

class LinuxDesktop final : public Desktop {
public:
    // Names the desktop entry, the icon, the status item and the autostart entry.
    static constexpr const char* kApplicationId = "app.kestrel.Kestrel";

    explicit LinuxDesktop(LinuxOptions options = {});
    ~LinuxDesktop() override;

    // Whether an X server answers on $DISPLAY.
    static bool displayReachable();

    RunLoop& runLoop() override { return runLoop_; }
    Executor& executor() override { return *executor_; }
    const Bundle& bundle() const override { return bundle_; }
    Defaults& defaults() override { return defaults_; }
    Log& log() override { return log_; }
    Http& http() override { return *http_; }
    SecureStore& secureStore() override { return secureStore_; }
    Workspace& workspace() override { return workspace_; }
    Accessibility& accessibility() override { return accessibility_; }
    Events& events() override { return events_; }
    Screens& screens() override { return screens_; }
    Windows& windows() override { return windows_; }
    Pasteboard& pasteboard() override { return pasteboard_; }
    StatusBar& statusBar() override { return statusBar_; }
    LoginItems& loginItems() override { return loginItems_; }
    Wording wording() const override;

    XConnection& x() { return x_; }
    LinuxWorkspace& linuxWorkspace() { return workspace_; }
    AtspiAccessibility& atspi() { return accessibility_; }
    LinuxEvents& linuxEvents() { return events_; }
    LinuxScreens& linuxScreens() { return screens_; }
    MouseDownMonitor& mouseDownMonitor() { return mouseDownMonitor_; }
    MemoryLog& lines() { return log_; }
    // Present with Network::loopbackOnly.
    LoopbackHttp* recordedHttp() { return dynamic_cast<LoopbackHttp*>(http_.get()); }
    // Where the X server shows a window, in its pixels; none for a window that is gone.
    std::optional<Rect> windowRect(XWindow window);

private:
    std::optional<Rect> frontWindowFrame();
    std::optional<Rect> frontWindowRect();
    bool isOurWindow(XWindow window);

    RunLoop runLoop_{Clock::real};
    GLibRunLoop driver_{runLoop_};
    LinuxBundle bundle_;
    MemoryLog log_;
    FileDefaults defaults_;
    std::unique_ptr<Http> http_;
    XConnection x_;
    LinuxScreens screens_{x_};
    LinuxWorkspace workspace_;
    AtspiAccessibility accessibility_;
    LinuxEvents events_;
    MouseDownMonitor mouseDownMonitor_;
    SecretServiceStore secureStore_;
    GtkWindows windows_;
    GtkPasteboard pasteboard_;
    IndicatorStatusBar statusBar_;
    XdgLoginItems loginItems_;
    std::unique_ptr<Executor> executor_;  // last member: joined first, before what it may touch
};

}  // namespace desktop::x11
