// Runs scenario scripts (`kestrel --simulate FILE`): each line drives the application on a fresh
// desktop through its driver (the simulated one with the virtual clock, or the real one), or states
// what must hold. Commands live in one table in Runner.cpp; a command is a member taking its
// arguments. Main thread. The program owns one runner per script.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Desktop/Observable.h"
#include "Scenario/Driver.h"
#include "Scenario/Script.h"

namespace kestrel {
class AppDelegate;
namespace devserver {
class DevBackend;
}
}  // namespace kestrel

namespace scenario {

class Runner {
public:
    // Exit statuses.
    static constexpr int kPassed = 0;
    static constexpr int kFailed = 1;
    static constexpr int kScriptError = 2;
    // A command that cannot mean on this desktop what it means in scripts (ctest's skip).
    static constexpr int kSkipped = 77;
    // Real seconds the end of a run may spend on work in flight.
    static constexpr double kSettleLimit = 10;
    // Virtual seconds one `wait` may pass: more would fire a repeating timer without end.
    static constexpr double kLongestWait = 24 * 60 * 60;
    // HTTP statuses a canned reply may carry.
    static constexpr int kLowestStatus = 100;
    static constexpr int kHighestStatus = 599;

    struct Options {
        // The installed resources (engine scripts); none falls back to the source tree.
        std::optional<std::filesystem::path> resourceDirectory;
        // The console runs in real time with its state kept between runs; scripts run on the
        // virtual clock with nothing stored.
        desktop::Clock clock = desktop::Clock::virtualTime;
        std::optional<std::filesystem::path> stateDirectory{};
        // Log lines also go to standard error as they are written (the console).
        bool echoLog = false;
    };

    // On a fresh simulated desktop.
    Runner(std::ostream& out, Options options);
    Runner(std::ostream& out, std::unique_ptr<Driver> driver);
    ~Runner();

    // Runs every line; answers kPassed, kFailed or kScriptError.
    int run(std::istream& script);
    // The console: reads commands from `input` on another thread while the application runs in
    // real time; ends at end of input or `quit`. Problems are printed and the console goes on.
    int console(std::istream& input);

    // What one line came to: nothing wrong, an expectation that did not hold, or a script error.
    struct Problem {
        bool scriptError = false;
        std::string message;
        bool skipped = false;
    };

private:
    using Outcome = std::optional<Problem>;
    using Handler = Outcome (Runner::*)(Args&);
    struct Command {
        Handler handler;
        bool needsLaunch;
    };
    static const std::map<std::string, Command, std::less<>>& commands();
    static const std::map<std::string, Handler, std::less<>>& expectations();
    static const std::map<std::string, Handler, std::less<>>& shows();

    // A driver verb's failure is the script's error.
    static Outcome asScriptError(Done done);
    Outcome execute(const std::string& line);
    Outcome launch(Args& args);
    void launchApplication();

    // Desktop setup.
    Outcome screen(Args& args);
    Outcome trust(Args& args);
    Outcome setDefault(Args& args);
    // Apps, fields and keys.
    Outcome app(Args& args);
    Outcome field(Args& args);
    Outcome type(Args& args);
    Outcome set(Args& args);
    Outcome readonly(Args& args);
    Outcome key(Args& args);
    Outcome wait(Args& args);
    // Menu, backend and the console.
    Outcome menu(Args& args);
    Outcome backend(Args& args);
    Outcome help(Args& args);
    Outcome quit(Args& args);
    // Showing.
    Outcome show(Args& args);
    Outcome showMenu(Args& args);
    Outcome showSignIn(Args& args);
    Outcome showState(Args& args);
    Outcome showEvents(Args& args);
    Outcome showLog(Args& args);
    // What the backend stand-in received from the analytics senders.
    Outcome showBackend(Args& args);
    // Our windows.
    Outcome click(Args& args);
    Outcome fill(Args& args);
    Outcome submit(Args& args);
    Outcome showPanel(Args& args);
    Outcome showPill(Args& args);
    Outcome showWindows(Args& args);
    Outcome expectPanel(Args& args);
    Outcome expectGating(Args& args);
    Outcome expectNotice(Args& args);
    Outcome expectShows(Args& args);
    Outcome expectPill(Args& args);
    Outcome expectClipboard(Args& args);
    // A visible window's name, frame and view tree as text.
    std::string describe(desktop::Window& window);
    // Expectations.
    Outcome expect(Args& args);
    Outcome expectSent(Args& args);
    Outcome expectUnsent(Args& args);
    Outcome expectField(Args& args);
    Outcome expectFindings(Args& args);
    Outcome expectRisks(Args& args);
    Outcome expectEvent(Args& args);
    Outcome expectNoEvent(Args& args);
    Outcome expectLog(Args& args);
    Outcome expectIcon(Args& args);
    Outcome expectTooltip(Args& args);
    Outcome expectSignedIn(Args& args);
    Outcome expectMenu(Args& args);
    Outcome expectNoMenu(Args& args);
    // The status menu as it would open now, and an item along a path of titles ("✓ " before a
    // title matches only a checked item).
    desktop::Menu* openMenu();
    std::optional<std::string> menuPath(Args& args, std::vector<std::string>& path);

    Outcome expectFindingIds(Args& args, bool risksOnly);

    struct TrackedEvent {
        std::string name;
        nlohmann::json properties;
    };

    std::ostream& out_;
    std::unique_ptr<Driver> driver_;
    desktop::InstallGuard installed_;
    std::shared_ptr<kestrel::AppDelegate> app_;
    std::vector<TrackedEvent> events_;
    desktop::Subscription tracking_;
    // Where each event name's next `expect event`/`noevent` starts looking.
    std::map<std::string, size_t> eventCursors_;
    // How many messages each app (by its script name) had sent at its last `expect sent`.
    std::map<std::string, size_t> sentCursors_;
    std::shared_ptr<kestrel::devserver::DevBackend> backend_;
    std::string backendAddress_;
    bool quitting_ = false;
};

// Runs the script at `path` ("-": standard input), printing to `out`; answers the exit status.
int simulate(const std::string& path, std::ostream& out, Runner::Options options);
int runScript(const std::string& path, std::ostream& out, std::unique_ptr<Driver> driver);

// Where the console keeps its state: $XDG_STATE_HOME/kestrel, else ~/.local/state/kestrel.
std::filesystem::path defaultStateDirectory();

}  // namespace scenario
