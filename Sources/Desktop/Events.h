// Keyboard event taps: active filters that see each key event before the focused application and
// may let it through (possibly changed) or swallow it; and posting events at the hardware level,
// from where they travel through the taps again. Tap callbacks run on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Desktop/KeyEvent.h"

namespace desktop {

// The platform's event type numbers, used for tap masks.
constexpr int eventTypeNumber(KeyEventType type) {
    switch (type) {
        case KeyEventType::keyDown: return 10;
        case KeyEventType::keyUp: return 11;
        case KeyEventType::flagsChanged: return 12;
        case KeyEventType::tapDisabledByTimeout:
        case KeyEventType::tapDisabledByUserInput: return -1;
    }
    return -1;
}
constexpr uint64_t eventMask(KeyEventType type) { return uint64_t{1} << eventTypeNumber(type); }

// Answers the event to let through, or none to swallow it. Also told, with the event that was
// in flight, when the system disabled the tap (tapDisabledByTimeout / tapDisabledByUserInput).
using TapCallback = std::function<std::optional<KeyEvent>(KeyEventType type, const KeyEvent& event)>;

// The key-downs a tap needs to see at this moment.
using KeyInterest = std::function<std::vector<KeyCombo>()>;

// What a backend that cannot wait on its taps for ever (X11 freezes the keyboard on a grabbed press)
// does with a press they did not decide in time: let it through, or swallow it and apply their
// verdict once it comes.
enum class LatePress { pass, hold };
using LatePressPolicy = std::function<LatePress()>;

// An installed tap; destroying it removes it.
class EventTap {
public:
    virtual ~EventTap() = default;
    virtual void enable(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    // A backend that sees every key ignores it. One that must grab keys to see them (X11) grabs
    // only these, and asks again whenever the front application changed and after every turn of
    // the main run loop. Without an interest such a tap sees nothing.
    virtual void setKeyInterest(KeyInterest interest) = 0;
    // A backend whose taps have all the time they need ignores it. One with a time limit asks it
    // as it asks the interest: a late press passes (and the taps are told, tapDisabledByTimeout)
    // unless an enabled tap answers hold; then it is swallowed, and replayed if the verdict that
    // comes late lets it through.
    virtual void setLatePress(LatePressPolicy policy) = 0;
};

class Events {
public:
    virtual ~Events() = default;
    // A session-level tap placed before every existing one, seeing the event types in `mask`;
    // none when the system refuses (no permission).
    virtual std::unique_ptr<EventTap> createTap(uint64_t mask, TapCallback callback) = 0;
    // Posts at the hardware level: the event travels through every tap, then to the front app.
    virtual void post(const KeyEvent& event) = 0;
};

}  // namespace desktop
