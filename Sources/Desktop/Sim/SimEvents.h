// The simulated keyboard: key presses travel through the installed taps in order (the newest tap
// first) and, unless one swallows them, reach the front application. Main thread.
// Owned by SimDesktop.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "Desktop/Events.h"
#include "Desktop/RunLoop.h"

namespace desktop::sim {

class SimEvents final : public Events {
public:
    // `deliver` hands an event that passed every tap to the front application.
    SimEvents(RunLoop& runLoop, std::function<void(const KeyEvent&)> deliver);
    ~SimEvents() override;

    std::unique_ptr<EventTap> createTap(uint64_t mask, TapCallback callback) override;
    // Like the platform, delivery happens on a later turn of the main run loop.
    void post(const KeyEvent& event) override;

    // Driver verbs.
    // Presses and releases a key: a key-down with these code and flags, then its key-up.
    void pressKey(int64_t keyCode, uint64_t flags = 0);
    // The system disables every enabled tap (a slow callback, or the person's secure input) and
    // tells each one through its callback.
    void disableTaps(KeyEventType reason);
    // Makes tap creation fail, as it does without the permission to filter input.
    void refuseTaps(bool refuse) { refuse_ = refuse; }
    // What the enabled taps would have a key-grabbing backend grab now, newest tap first.
    std::vector<KeyCombo> keysOfInterest() const;
    // Every event that reached an application, oldest first.
    const std::vector<KeyEvent>& delivered() const { return core_->delivered; }

private:
    struct TapState {
        uint64_t mask;
        TapCallback callback;
        bool enabled = true;
        KeyInterest interest{};
    };
    class Tap;
    struct Core {
        std::vector<std::weak_ptr<TapState>> taps;  // front = first to see an event
        std::function<void(const KeyEvent&)> deliver;
        std::vector<KeyEvent> delivered;
        void dispatch(KeyEvent event);
    };
    RunLoop& runLoop_;
    std::shared_ptr<Core> core_;
    bool refuse_ = false;
};

}  // namespace desktop::sim
