// The program's entry, the self test of the engine scripts, and the application delegate that
// builds and owns every controller. Main thread. The entry (or the scenario runner) owns the one
// delegate for the life of the application.
#pragma once

#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "Desktop/RunLoop.h"
#include "Kestrel/Windows.h"

namespace desktop {
class Menu;
struct MenuItem;
class StatusItem;
}  // namespace desktop

namespace kestrel {

class DraftState;
class Engine;
class FocusWatcher;
class KestrelAPI;
class PanelController;
class PillController;
class SendGate;

// Loads the engine as the application would, checks one sample sentence on both channels,
// prints the report and the verdict, and answers the exit status (0 or 1).
int selfTest(std::ostream& out = std::cout);

class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
public:
    static constexpr const char* kEngineAlertMessage = "Kestrel could not load its rule engine";
    static constexpr const char* kEngineAlertAdvice = "\n\nRun scripts/sync-shared and rebuild.";
    static constexpr const char* kTapFailedLine =
        "Kestrel: event tap could not start; the send gate is off until relaunch";
    static constexpr const char* kLaunchAtLoginFailed = "Kestrel: launch at login failed: ";
    static constexpr const char* kLaunchedBefore = "launchedBefore";
    static constexpr double kPermissionPollInterval = 1.0;
    static constexpr double kIconRefreshInterval = 0.5;

    // Runs the application until it ends, keeping its state under the directory if one is given;
    // answers the exit status. The program supplies it: the console on the simulated desktop.
    using RunApplication =
        std::function<int(const std::optional<std::filesystem::path>& stateDirectory)>;

    // The entry: "--help" anywhere among the arguments prints the usage and "--version" the
    // version (both to standard output, answering 0), "--selftest" runs the self test, "--check"
    // one check; otherwise the application runs ("--state DIR" is the one option), and anything
    // else is named in one line on standard error before the usage, answering 2.
    static int main(const std::vector<std::string>& arguments, const RunApplication& run);

    // Starts the one application: a menu-bar accessory (no Dock icon, no application menu)
    // whose launch sequence has run. The caller keeps it for the life of the process.
    static std::shared_ptr<AppDelegate> launch();

    // Takes the shared backend client (restoring a stored session) and a fresh draft state.
    AppDelegate();
    ~AppDelegate();

    // The launch sequence: engine, watcher, gate, then watching when trusted. When the engine
    // cannot load, an alert says why and the application terminates.
    void applicationDidFinishLaunching();

    const std::shared_ptr<KestrelAPI>& api() const { return api_; }
    const std::shared_ptr<DraftState>& state() const { return state_; }
    // Absent only before launch, or for good when the engine failed to load.
    const std::shared_ptr<Engine>& engine() const { return engine_; }
    const std::shared_ptr<FocusWatcher>& watcher() const { return watcher_; }
    const std::shared_ptr<SendGate>& gate() const { return gate_; }
    const std::shared_ptr<PanelController>& panel() const { return panel_; }
    const std::shared_ptr<PillController>& pill() const { return pill_; }
    const std::shared_ptr<SignInWindow>& signIn() const { return signIn_; }
    const AccessibilityWindow& accessibility() const { return accessibility_; }
    const std::shared_ptr<desktop::StatusItem>& statusItem() const { return statusItem_; }

    // The status menu, rebuilt from the current state each time it is about to open.
    void menuNeedsUpdate(desktop::Menu& menu);
    void signInAction();
    void signOutAction();
    void openDashboard();
    void grantAccess();
    void enableRule(const desktop::MenuItem& item);
    void toggleApp(const desktop::MenuItem& item);
    void toggleLaunchAtLogin();
    // "Check what I'm writing": the panel opened by hand from the menu, or closed.
    void openPanel();
    // Hides the review panel when it shows, otherwise opens it from "pill", "hotkey" or "menu".
    void togglePanel(const std::string& source);
    // The status item's symbol and tooltip from trust, risks and the current app.
    void refreshIcon();
    // The program was started again while this copy runs: the review panel shows, so the person
    // sees that it is already here.
    void reopen();

private:
    // Polling, and the gate when its tap can be installed; at most once per process.
    void startWatching();
    // The gate's hold, hotkey and Escape, and the panel's sign-in request.
    void wireCallbacks();
    void setUpStatusItem();
    // "App Installed" on the first launch ever, "App Launched" after.
    void recordLaunch();
    // Shows the permission window and polls until the process is trusted.
    void waitForPermission();
    void checkPermission();

    std::shared_ptr<KestrelAPI> api_;
    std::shared_ptr<DraftState> state_;
    std::shared_ptr<Engine> engine_;
    std::shared_ptr<FocusWatcher> watcher_;
    std::shared_ptr<SendGate> gate_;
    std::shared_ptr<PanelController> panel_;
    std::shared_ptr<PillController> pill_;
    std::shared_ptr<SignInWindow> signIn_;
    AccessibilityWindow accessibility_;
    std::shared_ptr<desktop::StatusItem> statusItem_;
    desktop::Timer permissionTimer_;
    desktop::Timer iconTimer_;
    bool watching_ = false;
};

}  // namespace kestrel
