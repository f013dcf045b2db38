// The Send key on X11: the taps' keys of interest become passive, synchronous key grabs on the
// root window, each in every combination of the modifiers that never tell chords apart (Caps
// Lock, Num Lock, the level shifts), so a grabbed press freezes the keyboard until the taps
// decided: passing it hands the original event to the focused app (ReplayKeyboard), swallowing it
// drops it. A watchdog with a connection of its own sees each grabbed press as the server froze
// the keyboard (XInput2 raw events reach every client, grab or not) and passes a press that is
// not decided within the limit of that moment, however busy the main loop is (or holds it, where
// the taps asked, and applies their verdict when it comes). Posting a held
// send replays it through XTest with the grab lifted, once the physical key is up, with the
// modifiers and level of the original press, so the replay never comes back to the taps. Main
// thread, except the watchdog. Owned by the Linux desktop.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Desktop/Events.h"
#include "Desktop/Log.h"
#include "Desktop/Linux/KeyCodes.h"
#include "Desktop/Linux/XConnection.h"

namespace desktop::x11 {

class LinuxEvents final : public Events {
public:
    // A press not decided within this time of the server freezing the keyboard passes, or is held
    // for a late verdict.
    static constexpr double kDecisionTimeLimit = 1.0;

    LinuxEvents(XConnection& x, Log& log);
    ~LinuxEvents() override;

    std::unique_ptr<EventTap> createTap(uint64_t mask, TapCallback callback) override;
    // A key-down replays the press and its release together; the matching key-up is part of it.
    void post(const KeyEvent& event) override;

    // Grabs exactly what the enabled taps want now, releasing the rest.
    void updateGrabs();
    // Told of each grabbed press before the taps decide it, with the root's child that holds the
    // input focus (the server's own answer in the event; 0 when the focus is not in one).
    void setPressHandler(std::function<void(XWindow)> handler) { onPress_ = std::move(handler); }

    // An X key code and the modifier bits that tell chords apart; it is grabbed with every
    // combination of the ignored ones.
    struct Grab {
        unsigned keycode = 0;
        unsigned modifiers = 0;
        auto operator<=>(const Grab&) const = default;
    };
    const std::set<Grab>& grabs() const { return grabbed_; }

    // The last grabbed press: its server time, how long the keyboard stayed frozen on it, from the
    // server's freeze to the verdict (ours or the watchdog's; the server's clock counts whole
    // milliseconds), and how long our main loop took from taking the press to its verdict.
    struct Freeze {
        XTime time = 0;
        double seconds = 0;
        double handlingSeconds = 0;
    };
    Freeze lastFreeze() const;

private:
    struct TapState;
    class Tap;
    using Clock = std::chrono::steady_clock;

    // X server time (milliseconds, wrapping at 2^32) on our clock. An event is seen a little after
    // the server stamped it, so the earliest moment any event implies is the best estimate; it
    // relaxes slowly, as the two clocks may drift apart.
    class ServerClock {
    public:
        void observe(XTime serverTime, Clock::time_point seenAt);
        // When the server stamped `serverTime`, never later than `seenAt`.
        Clock::time_point toLocal(XTime serverTime, Clock::time_point seenAt) const;

    private:
        std::optional<XTime> reference_;
        Clock::time_point referenceAt_;
        Clock::time_point lastSeen_;
    };

    // A press we swallowed, as the server delivered it: what a replay must reproduce.
    struct HeldPress {
        KeyEvent event;
        unsigned keycode = 0;
        unsigned state = 0;
    };

    void onEvent(const XEvent& event);
    void onKeyPress(unsigned keycode, unsigned state, XTime time, XWindow focusedTopLevel);
    void onMappingChanged(XEvent event);
    KeyEvent keyEventFor(unsigned keycode, unsigned state) const;
    // Runs the taps over the event; none when one swallowed it.
    std::optional<KeyEvent> decide(const KeyEvent& event);
    void notifyLateDecision(const KeyEvent& event);
    std::optional<Grab> grabFor(const KeyCombo& combo);
    void setGrabbed(const Grab& grab, bool grabbed);
    void replay(const HeldPress& press);
    bool isPhysicallyDown(unsigned keycode) const;

    // The keyboard froze on a press at `time`: the watchdog's clock starts, unless it already did
    // (then answers false). With frozenMutex_ held; from the main loop, and from the watchdog as
    // it sees a raw press.
    bool frozeAt(XTime time, Clock::time_point seenAt);
    void rawPressAt(XTime time, Clock::time_point seenAt);
    // Whether the verdict came in time (and then lets the keyboard go with it), or the watchdog
    // let the keyboard go first, passing or holding the press.
    enum class Settled { inTime, passedLate, heldLate };
    Settled settle(XTime time, bool pass, Clock::time_point taken);
    // The watchdog's thread, with a connection of its own.
    void watchdogLoop(const std::string& displayName);
    // Asks for raw key presses on the connection; answers XInput's opcode, or -1 without it.
    static int selectRawPresses(XConnection& watch);
    // A key went down somewhere, at the server's time.
    void watchRawPress(XConnection& watch, int opcode, const XEvent& event);
    void wakeWatchdog();

    XConnection& x_;
    Log& log_;
    ModifierMasks masks_;
    std::vector<std::weak_ptr<TapState>> taps_;  // front = newest, first to decide
    std::set<Grab> grabbed_;
    std::function<void(XWindow)> onPress_;
    // Presses we swallowed whose release has not arrived yet (the grab stays active until then).
    std::set<unsigned> swallowedDown_;
    std::optional<HeldPress> held_;
    std::optional<HeldPress> deferredReplay_;

    // Shared with the watchdog.
    struct Frozen {
        XTime time = 0;
        Clock::time_point since;
        Clock::time_point releasedAt;  // by the watchdog
        bool decided = true;
        bool heldLate = false;  // by the watchdog, for the taps' verdict
        bool seenByMainLoop = false;
    };
    mutable std::mutex frozenMutex_;
    Frozen frozen_;
    Freeze lastFreeze_;
    ServerClock serverClock_;
    std::set<unsigned> grabbedKeycodes_;
    bool holdWhenLate_ = false;
    bool stopping_ = false;

    // What wakes the watchdog.
    int wakeFd_ = -1;
    std::thread watchdog_;
};

}  // namespace desktop::x11
