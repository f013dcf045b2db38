// The Send key on X11: the taps' keys of interest become passive, synchronous key grabs on the
// root window (with every Caps Lock / Num Lock variant), so a grabbed press freezes the keyboard
// until the taps decided: passing it hands the original event to the focused app
// (ReplayKeyboard), swallowing it drops it. A watchdog passes a press that is not decided in time.
// Posting a held send replays it through XTest with the grab lifted, once the physical key is up,
// so the replay never comes back to the taps. Main thread, except the watchdog. Owned by the
// Linux desktop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "Desktop/Events.h"
#include "Desktop/Log.h"
#include "Desktop/Linux/KeyCodes.h"
#include "Desktop/Linux/XConnection.h"

namespace desktop::x11 {

class LinuxEvents final : public Events {
public:
    // A press not decided within this time passes (the keyboard is frozen meanwhile).
    static constexpr double kDecisionTimeLimit = 1.0;

    LinuxEvents(XConnection& x, Log& log);
    ~LinuxEvents() override;

    std::unique_ptr<EventTap> createTap(uint64_t mask, TapCallback callback) override;
    // A key-down replays the press and its release together; the matching key-up is part of it.
    void post(const KeyEvent& event) override;

    // Grabs exactly what the enabled taps want now, releasing the rest.
    void updateGrabs();

    // An X key code and modifier bits (without Lock and Num Lock).
    struct Grab {
        unsigned keycode = 0;
        unsigned modifiers = 0;
        auto operator<=>(const Grab&) const = default;
    };
    const std::set<Grab>& grabs() const { return grabbed_; }
    // How long the last grabbed press kept the keyboard frozen, from its arrival to the verdict.
    double lastDecisionSeconds() const { return lastDecisionSeconds_; }

private:
    struct TapState;
    class Tap;

    void onEvent(const XEvent& event);
    void onKeyPress(unsigned keycode, unsigned state, XTime time);
    // Runs the taps over the event; none when one swallowed it.
    std::optional<KeyEvent> decide(const KeyEvent& event);
    void notifyLateDecision(const KeyEvent& event);
    std::optional<Grab> grabFor(const KeyCombo& combo);
    void setGrabbed(const Grab& grab, bool grabbed);
    void replay(const Grab& press);
    bool isPhysicallyDown(unsigned keycode) const;
    void watchdogLoop();

    XConnection& x_;
    Log& log_;
    ModifierMasks masks_;
    std::vector<std::weak_ptr<TapState>> taps_;  // front = newest, first to decide
    std::set<Grab> grabbed_;
    // Presses we swallowed whose release has not arrived yet (the grab stays active until then).
    std::set<unsigned> swallowedDown_;
    std::optional<Grab> deferredReplay_;
    double lastDecisionSeconds_ = 0;

    // The press the keyboard is frozen on, shared with the watchdog.
    struct Frozen {
        XTime time = 0;
        std::chrono::steady_clock::time_point deadline;
        bool decided = true;
    };
    std::mutex frozenMutex_;
    std::condition_variable frozenChanged_;
    Frozen frozen_;
    bool stopping_ = false;
    std::thread watchdog_;
};

}  // namespace desktop::x11
