// The pill: a small round badge at the left edge of the compose box that tells at a glance
// whether the draft has risks, only notes, or nothing, and toggles the review panel on a click.
// Main thread only. The application delegate owns the one PillController.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Desktop/RunLoop.h"
#include "Desktop/View.h"
#include "Desktop/Windows.h"

namespace kestrel {

class DraftState;

// The pill's content, a function of the draft.
struct PillView {
    static constexpr double kSide = 26;

    std::shared_ptr<DraftState> state;
    std::function<void()> tap;

    ui::Node body() const;

private:
    ui::Fill fill() const;
    std::string help() const;
};

class PillController : public std::enable_shared_from_this<PillController> {
public:
    static constexpr double kInterval = 0.5;
    // The pill goes only beside fields wider than this.
    static constexpr double kMinFieldWidth = 40;
    static constexpr double kGap = 8;
    static constexpr double kInset = 6;

    PillController(std::shared_ptr<DraftState> state, std::function<void()> onClick);

    // Starts the placement timer; a second call does nothing.
    void start();
    // One placement step: shows the pill beside the focused field, or hides it.
    void tick();

    desktop::Window& window() { return *window_; }
    ui::HostingView& host() { return *host_; }

private:
    void hide();

    std::unique_ptr<desktop::Window> window_;
    std::shared_ptr<DraftState> state_;
    std::function<void()> onClick_;
    desktop::Timer timer_;
    std::shared_ptr<ui::HostingView> host_;
};

}  // namespace kestrel
