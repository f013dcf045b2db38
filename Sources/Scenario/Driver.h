// What the scenario runner asks of a desktop beyond its services: the hands and eyes of a person
// at it (bring an app forward, focus a field, type, press keys, click our controls, choose from the
// status menu) and the passing of time. One script means the same on every desktop; only these
// verbs differ. SimDriver drives the simulated desktop; the real one is kestrel-scenario-desktop's.
// Main thread. The runner owns its driver.
#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Desktop/Desktop.h"
#include "Desktop/Geometry.h"

namespace kestrel::devserver {
class DevBackend;
}

namespace desktop {
struct MenuItem;
class StatusItem;
}  // namespace desktop

namespace scenario {

// Nothing, or why the verb could not be done (a script error).
using Done = std::optional<std::string>;

class Driver {
  public:
    virtual ~Driver() = default;

    virtual desktop::Desktop& desktop() = 0;
    // Why a command cannot mean here what it means in scripts; none where it can. A run that
    // meets such a command is skipped there.
    virtual std::optional<std::string> unsupported(std::string_view command) const {
        return std::nullopt;
    }

    // Desktop setup.
    virtual Done setScreens(const std::vector<double>& numbers) = 0;
    virtual Done setTrusted(bool trusted) = 0;
    // The application asked to end.
    virtual bool terminated() = 0;

    // Apps by the names scripts use ("slack", "mail", "other").
    virtual Done bringToFront(const std::string& app) = 0;
    // The name the application knows the app by where the script's name has no app here.
    virtual std::string platformName(const std::string& app) const { return app; }
    // A new field of a role ("textarea", "textfield", "button", "none") in the front app.
    virtual Done focusField(const std::string& role, std::optional<desktop::Rect> frame) = 0;
    virtual Done type(const std::string& text) = 0;
    virtual Done setText(const std::string& text) = 0;
    virtual Done setReadOnly(bool readOnly) = 0;
    // Presses and releases a chord as scripts write it; what happened, as lines to show.
    virtual std::expected<std::vector<std::string>, std::string> pressKey(
        const std::string& chord) = 0;
    // Every message the app sent, oldest first; an error for an unknown app.
    virtual std::expected<std::vector<std::string>, std::string> sent(const std::string& app) = 0;
    virtual std::optional<std::string> focusedText() = 0;

    // Our windows: a control by title (else tooltip, else a field's placeholder), a global point.
    virtual Done click(const std::string& title) = 0;
    virtual Done clickAt(desktop::Point at) = 0;
    virtual Done fill(const std::string& placeholder, const std::string& text) = 0;
    virtual Done submit(const std::string& placeholder) = 0;
    virtual std::vector<desktop::Window*> visibleWindows() = 0;
    virtual bool runsAsAccessory() = 0;
    // Chooses the status menu's item along `path`, which the menu as it opens now holds.
    virtual Done choose(desktop::StatusItem& statusItem, const std::vector<std::string>& path,
                        const desktop::MenuItem& item) = 0;

    // Starts the backend stand-in on loopback and points "backendUrl" at it for this run only.
    struct Backend {
        std::shared_ptr<kestrel::devserver::DevBackend> backend;
        std::string address;
    };
    virtual std::expected<Backend, std::string> startBackend() = 0;

    virtual std::vector<std::string> logLines() = 0;

    // Runs what is queued on the main thread.
    virtual void drain() = 0;
    // Lets `seconds` pass.
    virtual void wait(double seconds) = 0;
    // Waits, at most `seconds` of real time, for work in flight to finish.
    virtual void settle(double seconds) = 0;
    // Real seconds an expectation may take to come true: none where time only moves on `wait`.
    virtual double patience() const { return 0; }
};

}  // namespace scenario
