// The program's entry, the self test of the engine scripts, and the application delegate that
// builds and owns every controller. Main thread. The entry (or the scenario runner) owns the one
// delegate for the life of the application.
#pragma once

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

class DraftState;
class Engine;
class FocusWatcher;
class KestrelAPI;
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

    // The entry: "--selftest" anywhere among the arguments runs the self test.
    static int main(const std::vector<std::string>& arguments);

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

private:
    // Polling, and the gate when its tap can be installed; at most once per process.
    void startWatching();

    std::shared_ptr<KestrelAPI> api_;
    std::shared_ptr<DraftState> state_;
    std::shared_ptr<Engine> engine_;
    std::shared_ptr<FocusWatcher> watcher_;
    std::shared_ptr<SendGate> gate_;
    bool watching_ = false;
};

}  // namespace kestrel
