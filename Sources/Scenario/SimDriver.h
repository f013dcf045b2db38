// The scenario runner's hands on the simulated desktop: the fake apps of FakeApps, key presses
// through the simulated taps, controls pressed in the hosted view trees, and the virtual clock
// moved timer by timer. Main thread. The runner owns it.
#pragma once

#include <filesystem>
#include <optional>

#include "Desktop/Sim/SimDesktop.h"
#include "Scenario/Driver.h"

namespace scenario {

class SimDriver final : public Driver {
  public:
    // Real seconds a `wait` may spend on work in flight.
    static constexpr double kSettleLimit = 10;

    struct Options {
        std::optional<std::filesystem::path> resourceDirectory;
        desktop::sim::SimOptions desktop;
    };
    explicit SimDriver(Options options);

    desktop::Desktop& desktop() override { return sim_; }
    Done setScreens(const std::vector<double>& numbers) override;
    Done setTrusted(bool trusted) override;
    bool terminated() override { return sim_.simApps().terminated(); }

    Done bringToFront(const std::string& app) override;
    Done focusField(const std::string& role, std::optional<desktop::Rect> frame) override;
    Done type(const std::string& text) override;
    Done setText(const std::string& text) override;
    Done setReadOnly(bool readOnly) override;
    std::expected<std::vector<std::string>, std::string> pressKey(
        const std::string& chord) override;
    std::expected<std::vector<std::string>, std::string> sent(const std::string& app) override;
    std::optional<std::string> focusedText() override { return sim_.simApps().focusedText(); }

    Done click(const std::string& title) override;
    Done clickAt(desktop::Point at) override;
    Done fill(const std::string& placeholder, const std::string& text) override;
    Done submit(const std::string& placeholder) override;
    std::vector<desktop::Window*> visibleWindows() override {
        return sim_.simWindows().visibleWindows();
    }
    bool runsAsAccessory() override;
    Done choose(desktop::StatusItem& statusItem, const std::vector<std::string>& path,
                const desktop::MenuItem& item) override;

    std::expected<Backend, std::string> startBackend() override;
    std::vector<std::string> logLines() override { return sim_.simLog().lines(); }

    void drain() override { sim_.drain(); }
    void wait(double seconds) override;
    void settle(double seconds) override { sim_.settle(seconds); }

  private:
    Done inFocusedField(const std::function<void()>& edit);

    desktop::sim::SimDesktop sim_;
};

}  // namespace scenario
