// The simulated desktop: every service in memory, plus the driver verbs that tests, scenarios and
// the console use (advance the clock, inspect the log). Main thread, except the executor.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Desktop/Desktop.h"
#include "Desktop/FileDefaults.h"
#include "Desktop/LoopbackHttp.h"
#include "Desktop/MemoryLog.h"
#include "Desktop/Sim/SimSecureStore.h"
#include "Desktop/Sim/SimApps.h"
#include "Desktop/Sim/SimEvents.h"
#include "Desktop/Sim/SimScreens.h"
#include "Desktop/Sim/SimStatusBar.h"
#include "Desktop/Sim/SimPasteboard.h"
#include "Desktop/Sim/SimWindows.h"

namespace desktop::sim {

class SimBundle final : public Bundle {
public:
    std::string identifier() const override { return identifier_; }
    std::optional<nlohmann::json> infoValue(const std::string& key) const override;
    std::optional<std::filesystem::path> resourceDirectory() const override { return resources_; }

    void setIdentifier(std::string id) { identifier_ = std::move(id); }
    void setInfoValue(const std::string& key, nlohmann::json value) { info_[key] = std::move(value); }
    void removeInfoValue(const std::string& key) { info_.erase(key); }
    void setResourceDirectory(std::optional<std::filesystem::path> dir) { resources_ = std::move(dir); }

private:
    std::string identifier_ = "app.kestrel.Kestrel";
    nlohmann::json info_ = nlohmann::json::object();
    std::optional<std::filesystem::path> resources_;
};

struct SimOptions {
    Clock clock = Clock::virtualTime;
    // Where the console keeps its state between runs; none keeps everything in memory. A file in
    // it that cannot be read is set aside, and a folder that cannot be written is reported, in
    // the log.
    std::optional<std::filesystem::path> stateDirectory;
    // Mirror log lines to standard error from the start, so a person sees problems met while the
    // desktop is set up.
    bool echoLog = false;
};

class SimDesktop final : public Desktop {
public:
    explicit SimDesktop(SimOptions options = {});
    ~SimDesktop() override;

    RunLoop& runLoop() override { return runLoop_; }
    Executor& executor() override { return *executor_; }
    const Bundle& bundle() const override { return bundle_; }
    Defaults& defaults() override { return defaults_; }
    Log& log() override { return log_; }
    Http& http() override { return http_; }
    SecureStore& secureStore() override { return secureStore_; }
    Workspace& workspace() override { return apps_; }
    Accessibility& accessibility() override { return apps_; }
    Events& events() override { return events_; }
    Screens& screens() override { return screens_; }
    Windows& windows() override { return windows_; }
    Pasteboard& pasteboard() override { return pasteboard_; }
    StatusBar& statusBar() override { return statusBar_; }
    LoginItems& loginItems() override { return loginItems_; }

    SimBundle& simBundle() { return bundle_; }
    FileDefaults& simDefaults() { return defaults_; }
    MemoryLog& simLog() { return log_; }
    const MemoryLog& simLog() const { return log_; }
    LoopbackHttp& simHttp() { return http_; }
    SimSecureStore& simSecureStore() { return secureStore_; }
    // Fake apps, their fields, trust; the keyboard and its taps; screens and pointer.
    SimApps& simApps() { return apps_; }
    SimEvents& simEvents() { return events_; }
    SimScreens& simScreens() { return screens_; }
    // Our windows, clicks and alerts; the general pasteboard.
    SimWindows& simWindows() { return windows_; }
    SimPasteboard& simPasteboard() { return pasteboard_; }
    // The status item and launch at login.
    SimStatusBar& simStatusBar() { return statusBar_; }
    SimLoginItems& simLoginItems() { return loginItems_; }

    // Driver verbs.
    void advance(double seconds) { runLoop_.advance(seconds); }
    void drain() { runLoop_.drain(); }
    // A mouse-down at a global point: the pointer moves there, then our windows or the global
    // monitors get the click.
    std::expected<SimWindows::Click, std::string> click(Point at, MouseButton button = MouseButton::left) {
        screens_.setMouseLocation(at);
        return windows_.click(at, button);
    }
    // Waits (in real time, at most `timeoutSeconds`) until background work and what it posted
    // back to the main queue are done; answers whether the desktop became quiet.
    bool settle(double timeoutSeconds = 10);

private:
    RunLoop runLoop_;
    SimBundle bundle_;
    MemoryLog log_;  // before the stores, which report into it while they load
    FileDefaults defaults_;
    LoopbackHttp http_;
    SimSecureStore secureStore_;
    SimScreens screens_;
    SimWindows windows_{screens_};
    SimPasteboard pasteboard_;
    SimStatusBar statusBar_;
    SimLoginItems loginItems_;
    SimApps apps_;
    SimEvents events_;
    std::unique_ptr<Executor> executor_;  // last member: joined first, before what it may touch
};

}  // namespace desktop::sim
