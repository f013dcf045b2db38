// The scenario runner's hands on the real desktop (an X11 session such as scripts/desktop-session
// makes): each app a script names is the GTK stand-in app started with the identity of the
// supported-app row that stands for it here, keys and clicks go through the X server (xdotool,
// which uses XTest), our controls are found among our GTK windows and clicked where they show, the
// status menu is chosen from as a tray host would, and time is real. Main thread. Owned by the
// runner of kestrel-scenario-desktop.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>

#include "Desktop/Linux/LinuxDesktop.h"
#include "Scenario/Driver.h"
#include "Scenario/Linux/RealSession.h"

namespace scenario {

class RealDriver final : public Driver {
  public:
    // Real seconds an expectation, a stand-in app or one of our controls may take to come about
    // on a busy machine; it only costs time when something is wrong.
    static constexpr double kPatience = 20;
    // A stand-in's first window: a GTK app's start may wait out a whole accessibility bus call
    // (25 s) while the session's bus services come up, and was once seen to take longer than 20 s.
    static constexpr double kFirstWindowPatience = 40;

    struct Options {
        std::optional<std::filesystem::path> resourceDirectory;
        // The GTK stand-in app (kestrel-test-chat).
        std::filesystem::path standIn;
        // Where the stand-ins keep their sent logs.
        std::filesystem::path scratch;
    };
    explicit RealDriver(Options options);
    ~RealDriver() override;

    // Whether the session grants accessibility (its bus may take a while to start).
    bool accessibilityReady();

    desktop::Desktop& desktop() override { return desktop_; }
    std::optional<std::string> unsupported(std::string_view command) const override;
    Done setScreens(const std::vector<double>& numbers) override;
    Done setTrusted(bool trusted) override;
    bool terminated() override { return false; }

    Done bringToFront(const std::string& app) override;
    std::string platformName(const std::string& app) const override;
    Done focusField(const std::string& role, std::optional<desktop::Rect> frame) override;
    Done type(const std::string& text) override;
    Done setText(const std::string& text) override;
    Done setReadOnly(bool readOnly) override;
    std::expected<std::vector<std::string>, std::string> pressKey(
        const std::string& chord) override;
    std::expected<std::vector<std::string>, std::string> sent(const std::string& app) override;
    std::optional<std::string> focusedText() override;

    Done click(const std::string& title) override;
    Done clickAt(desktop::Point at) override;
    Done fill(const std::string& placeholder, const std::string& text) override;
    Done submit(const std::string& placeholder) override;
    std::vector<desktop::Window*> visibleWindows() override;
    bool runsAsAccessory() override;
    Done choose(desktop::StatusItem& statusItem, const std::vector<std::string>& path,
                const desktop::MenuItem& item) override;

    std::expected<Backend, std::string> startBackend() override;
    std::vector<std::string> logLines() override;

    void drain() override;
    void wait(double seconds) override;
    void settle(double seconds) override;
    double patience() const override { return kPatience; }

  private:
    struct StandIn {
        pid_t pid = 0;
        int control = -1;  // its standard input
        int replies = -1;  // its standard output
        std::filesystem::path log;
    };
    bool waitFor(const std::function<bool()>& done, double seconds = kPatience) {
        return scenario::waitFor(done, seconds);
    }
    Done xdotool(std::vector<std::string> arguments) {
        return scenario::xdotool(std::move(arguments), kPatience);
    }
    Done launch(const std::string& app);
    // Brings a running stand-in's window to the front, as a click on it would.
    Done activate(const std::string& app);
    // Whether one of our toplevels shows at that root pixel, as the X server has placed it.
    bool showsOurWindowAt(int x, int y);
    std::optional<desktop::Element> focusedElement();

    Options options_;
    desktop::x11::LinuxDesktop desktop_;
    std::map<std::string, StandIn> apps_;
    std::string front_;
};

}  // namespace scenario
