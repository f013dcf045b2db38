#include "Desktop/Linux/LinuxEvents.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <array>
#include <utility>
#include <chrono>
#include <cstdio>

namespace desktop::x11 {

struct LinuxEvents::TapState {
    uint64_t mask;
    TapCallback callback;
    bool enabled = false;
    KeyInterest interest{};
};

class LinuxEvents::Tap final : public EventTap {
public:
    Tap(std::shared_ptr<TapState> state, LinuxEvents& events) : state_(std::move(state)), events_(events) {}
    ~Tap() override {
        state_.reset();
        events_.updateGrabs();
    }
    void enable(bool enabled) override {
        state_->enabled = enabled;
        events_.updateGrabs();
    }
    bool isEnabled() const override { return state_->enabled; }
    void setKeyInterest(KeyInterest interest) override {
        state_->interest = std::move(interest);
        events_.updateGrabs();
    }

private:
    std::shared_ptr<TapState> state_;  // the events see it weakly: dropping the tap removes it
    LinuxEvents& events_;
};

LinuxEvents::LinuxEvents(XConnection& x, Log& log) : x_(x), log_(log) {
    if (!x_.isOpen()) return;
    masks_ = ModifierMasks::read(x_.display());
    // Without it, holding a grabbed key sends press-release pairs and every repeat looks new.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(x_.display(), True, &supported);
    x_.addHandler([this](const XEvent& event) { onEvent(event); });
    watchdog_ = std::thread([this] { watchdogLoop(); });
}

LinuxEvents::~LinuxEvents() {
    {
        std::lock_guard lock(frozenMutex_);
        stopping_ = true;
    }
    frozenChanged_.notify_all();
    if (watchdog_.joinable()) watchdog_.join();
    for (const auto& grab : std::set<Grab>(grabbed_)) setGrabbed(grab, false);
}

std::unique_ptr<EventTap> LinuxEvents::createTap(uint64_t mask, TapCallback callback) {
    // Without a server there is nothing to grab from: the gate logs that it could not start.
    if (!x_.isOpen()) return nullptr;
    std::erase_if(taps_, [](const auto& tap) { return tap.expired(); });
    auto state = std::make_shared<TapState>(TapState{mask, std::move(callback)});
    taps_.insert(taps_.begin(), state);
    return std::make_unique<Tap>(std::move(state), *this);
}

std::optional<LinuxEvents::Grab> LinuxEvents::grabFor(const KeyCombo& combo) {
    auto keysym = keysymForKeyCode(combo.keyCode);
    if (!keysym) return std::nullopt;
    KeyCode keycode = XKeysymToKeycode(x_.display(), *keysym);
    if (!keycode) return std::nullopt;
    return Grab{keycode, stateForFlags(combo.modifiers, masks_)};
}

void LinuxEvents::setGrabbed(const Grab& grab, bool grabbed) {
    if (!x_.isOpen()) {
        grabbed_.erase(grab);
        return;
    }
    const std::array<unsigned, 4> locks = {0u, LockMask, masks_.numLock, LockMask | masks_.numLock};
    int error = x_.trapErrors([&] {
        for (unsigned lock : locks) {
            if (grabbed)
                XGrabKey(x_.display(), static_cast<int>(grab.keycode), grab.modifiers | lock, x_.root(),
                         False, GrabModeAsync, GrabModeSync);
            else
                XUngrabKey(x_.display(), static_cast<int>(grab.keycode), grab.modifiers | lock, x_.root());
        }
    });
    if (!grabbed) {
        grabbed_.erase(grab);
        return;
    }
    if (error) {
        // BadAccess: another program grabbed the same key first.
        char line[160];
        std::snprintf(line, sizeof line,
                      "Kestrel: another program holds the key %u with modifiers 0x%x; that shortcut "
                      "is not checked",
                      grab.keycode, grab.modifiers);
        log_.write(line);
        x_.trapErrors([&] {
            for (unsigned lock : locks)
                XUngrabKey(x_.display(), static_cast<int>(grab.keycode), grab.modifiers | lock, x_.root());
        });
    }
    // Kept even when refused, so the refusal is logged once rather than on every turn.
    grabbed_.insert(grab);
}

void LinuxEvents::updateGrabs() {
    if (!x_.isOpen()) return;
    std::set<Grab> wanted;
    auto taps = taps_;  // an interest may add or drop taps
    for (const auto& weak : taps) {
        auto tap = weak.lock();
        if (!tap || !tap->enabled || !tap->interest) continue;
        for (const auto& combo : tap->interest()) {
            if (auto grab = grabFor(combo)) wanted.insert(*grab);
        }
    }
    if (wanted == grabbed_) return;
    for (const auto& grab : std::set<Grab>(grabbed_)) {
        if (!wanted.contains(grab)) setGrabbed(grab, false);
    }
    for (const auto& grab : wanted) {
        if (!grabbed_.contains(grab)) setGrabbed(grab, true);
    }
}

void LinuxEvents::onEvent(const XEvent& event) {
    if (event.type == KeyPress && event.xkey.window == x_.root()) {
        onKeyPress(event.xkey.keycode, event.xkey.state, event.xkey.time);
    } else if (event.type == KeyRelease && event.xkey.window == x_.root()) {
        swallowedDown_.erase(event.xkey.keycode);
        if (deferredReplay_ && deferredReplay_->keycode == event.xkey.keycode) {
            auto press = *std::exchange(deferredReplay_, std::nullopt);
            replay(press);
        }
    }
}

void LinuxEvents::onKeyPress(unsigned keycode, unsigned state, XTime time) {
    // A repeat of a press we swallowed arrives through the still active grab: swallow it too.
    if (swallowedDown_.contains(keycode)) {
        XAllowEvents(x_.display(), AsyncKeyboard, time);
        return;
    }
    auto arrived = std::chrono::steady_clock::now();
    KeySym keysym = XkbKeycodeToKeysym(x_.display(), static_cast<KeyCode>(keycode), 0, 0);
    auto keyCode = keyCodeForKeysym(keysym);
    std::optional<KeyEvent> verdict;
    KeyEvent event{KeyEventType::keyDown, keyCode.value_or(-1), flagsForState(state, masks_), 0};
    {
        std::lock_guard lock(frozenMutex_);
        frozen_ = Frozen{time,
                         std::chrono::steady_clock::now() +
                             std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(kDecisionTimeLimit)),
                         false};
    }
    frozenChanged_.notify_all();
    verdict = keyCode ? decide(event) : std::optional(event);
    bool late = false;
    {
        std::lock_guard lock(frozenMutex_);
        late = frozen_.decided;
        if (!late) {
            frozen_.decided = true;
            XAllowEvents(x_.display(), verdict ? ReplayKeyboard : AsyncKeyboard, time);
            XFlush(x_.display());
            lastDecisionSeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - arrived).count();
        }
    }
    if (late) notifyLateDecision(event);
    else if (!verdict) swallowedDown_.insert(keycode);
    updateGrabs();
}

std::optional<KeyEvent> LinuxEvents::decide(const KeyEvent& event) {
    std::optional<KeyEvent> current = event;
    auto taps = taps_;
    for (const auto& weak : taps) {
        auto tap = weak.lock();
        if (!tap || !tap->enabled || !(tap->mask & eventMask(event.type))) continue;
        current = tap->callback(event.type, *current);
        if (!current) return std::nullopt;
    }
    return current;
}

void LinuxEvents::notifyLateDecision(const KeyEvent& event) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "Kestrel: a key press passed unchecked: no decision within %.1f s", kDecisionTimeLimit);
    log_.write(line);
    // As a system that disabled a slow tap does: the taps learn that this event went through.
    auto taps = taps_;
    for (const auto& weak : taps) {
        if (auto tap = weak.lock(); tap && tap->enabled) tap->callback(KeyEventType::tapDisabledByTimeout, event);
    }
}

void LinuxEvents::watchdogLoop() {
    std::unique_lock lock(frozenMutex_);
    for (;;) {
        frozenChanged_.wait(lock, [&] { return stopping_ || !frozen_.decided; });
        if (stopping_) return;
        auto deadline = frozen_.deadline;
        if (frozenChanged_.wait_until(lock, deadline, [&] { return stopping_ || frozen_.decided; })) continue;
        // Still frozen at the deadline: hand the press on and let the keyboard go.
        frozen_.decided = true;
        if (x_.isOpen()) {
            XAllowEvents(x_.display(), ReplayKeyboard, frozen_.time);
            XFlush(x_.display());
        }
    }
}

bool LinuxEvents::isPhysicallyDown(unsigned keycode) const {
    char keys[32] = {};
    XQueryKeymap(x_.display(), keys);
    return keycode < 256 && (keys[keycode / 8] & (1 << (keycode % 8)));
}

void LinuxEvents::post(const KeyEvent& event) {
    if (event.type != KeyEventType::keyDown || !x_.isOpen()) return;
    auto press = grabFor(KeyCombo{event.keyCode, event.flags});
    if (!press) {
        log_.write("Kestrel: a held key press could not be replayed: no such key on this keyboard");
        return;
    }
    // A replay while the physical key is still down does not reach the app: wait for its release.
    if (swallowedDown_.contains(press->keycode) && isPhysicallyDown(press->keycode)) {
        deferredReplay_ = press;
        return;
    }
    swallowedDown_.erase(press->keycode);
    replay(*press);
}

void LinuxEvents::replay(const Grab& press) {
    Display* display = x_.display();
    // Lifting our own grab is what keeps the replay from coming back to the taps.
    std::vector<Grab> lifted;
    for (const auto& grab : grabbed_) {
        if (grab.keycode == press.keycode) lifted.push_back(grab);
    }
    for (const auto& grab : lifted) setGrabbed(grab, false);

    // The original press held its modifiers; hold those that are not held now.
    ::Window rootReturn, childReturn;
    int rootX, rootY, winX, winY;
    unsigned state = 0;
    XQueryPointer(display, x_.root(), &rootReturn, &childReturn, &rootX, &rootY, &winX, &winY, &state);
    std::vector<KeyCode> pressed;
    const std::array<std::pair<unsigned, KeySym>, 4> modifierKeys = {
        {{ShiftMask, XK_Shift_L}, {ControlMask, XK_Control_L}, {masks_.alt, XK_Alt_L}, {masks_.super, XK_Super_L}}};
    for (const auto& [mask, keysym] : modifierKeys) {
        if ((press.modifiers & mask) && !(state & mask)) {
            if (KeyCode code = XKeysymToKeycode(display, keysym)) {
                XTestFakeKeyEvent(display, code, True, CurrentTime);
                pressed.push_back(code);
            }
        }
    }
    XTestFakeKeyEvent(display, press.keycode, True, CurrentTime);
    XTestFakeKeyEvent(display, press.keycode, False, CurrentTime);
    for (auto it = pressed.rbegin(); it != pressed.rend(); ++it) XTestFakeKeyEvent(display, *it, False, CurrentTime);
    // The server has delivered the replay once this returns; only then may the grab come back.
    XSync(display, False);
    for (const auto& grab : lifted) setGrabbed(grab, true);
}

}  // namespace desktop::x11
