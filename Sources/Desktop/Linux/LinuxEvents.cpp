#include "Desktop/Linux/LinuxEvents.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace desktop::x11 {

namespace {
double secondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}
}  // namespace

struct LinuxEvents::TapState {
    uint64_t mask;
    TapCallback callback;
    bool enabled = false;
    KeyInterest interest{};
    LatePressPolicy latePress{};
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
    void setLatePress(LatePressPolicy policy) override {
        state_->latePress = std::move(policy);
        events_.updateGrabs();
    }

private:
    std::shared_ptr<TapState> state_;  // the events see it weakly: dropping the tap removes it
    LinuxEvents& events_;
};

void LinuxEvents::ServerClock::observe(XTime serverTime, Clock::time_point seenAt) {
    if (!reference_) {
        reference_ = serverTime;
        referenceAt_ = lastSeen_ = seenAt;
        return;
    }
    // The estimate so far, carried forward and relaxed by a millisecond per second since.
    auto since = seenAt > lastSeen_ ? seenAt - lastSeen_ : Clock::duration::zero();
    referenceAt_ = std::min(toLocal(serverTime, Clock::time_point::max()) + since / 1000, seenAt);
    reference_ = serverTime;
    lastSeen_ = std::max(lastSeen_, seenAt);
}

LinuxEvents::Clock::time_point LinuxEvents::ServerClock::toLocal(XTime serverTime, Clock::time_point seenAt) const {
    if (!reference_) return seenAt;
    // Server time is 32 bits of milliseconds: the difference is right across a wrap.
    auto difference = static_cast<int32_t>(static_cast<uint32_t>(serverTime) - static_cast<uint32_t>(*reference_));
    return std::min(referenceAt_ + std::chrono::milliseconds(difference), seenAt);
}

LinuxEvents::LinuxEvents(XConnection& x, Log& log) : x_(x), log_(log) {
    if (!x_.isOpen()) return;
    masks_ = ModifierMasks::read(x_.display());
    // Without it, holding a grabbed key sends press-release pairs and every repeat looks new.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(x_.display(), True, &supported);
    x_.addHandler([this](const XEvent& event) { onEvent(event); });

    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    watchdog_ = std::thread([this, name = std::string(DisplayString(x_.display()))] { watchdogLoop(name); });
}

LinuxEvents::~LinuxEvents() {
    {
        std::lock_guard lock(frozenMutex_);
        stopping_ = true;
    }
    wakeWatchdog();
    if (watchdog_.joinable()) watchdog_.join();
    if (wakeFd_ >= 0) close(wakeFd_);
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
    // Every combination of the bits that never tell chords apart: a level shift held with the
    // key (AltGr+Return) is still the chord.
    std::vector<unsigned> variants;
    const unsigned ignored = masks_.ignored();
    for (unsigned subset = ignored;; subset = (subset - 1) & ignored) {
        variants.push_back(grab.modifiers | subset);
        if (!subset) break;
    }
    auto ungrab = [&] {
        for (unsigned modifiers : variants)
            XUngrabKey(x_.display(), static_cast<int>(grab.keycode), modifiers, x_.root());
    };
    int error = x_.trapErrors([&] {
        if (!grabbed) return ungrab();
        for (unsigned modifiers : variants)
            XGrabKey(x_.display(), static_cast<int>(grab.keycode), modifiers, x_.root(), False, GrabModeAsync,
                     GrabModeSync);
    });
    if (!grabbed) {
        grabbed_.erase(grab);
    } else {
        if (error) {
            // BadAccess: another program grabbed the same key first.
            char line[160];
            std::snprintf(line, sizeof line,
                          "Kestrel: another program holds the key %u with modifiers 0x%x; that shortcut "
                          "is not checked",
                          grab.keycode, grab.modifiers);
            log_.write(line);
            x_.trapErrors(ungrab);
        }
        // Kept even when refused, so the refusal is logged once rather than on every turn.
        grabbed_.insert(grab);
    }
    std::lock_guard lock(frozenMutex_);
    grabbedKeycodes_.clear();
    for (const auto& held : grabbed_) grabbedKeycodes_.insert(held.keycode);
}

void LinuxEvents::updateGrabs() {
    if (!x_.isOpen()) return;
    std::set<Grab> wanted;
    bool holdWhenLate = false;
    auto taps = taps_;  // an interest may add or drop taps
    for (const auto& weak : taps) {
        auto tap = weak.lock();
        if (!tap || !tap->enabled) continue;
        if (tap->latePress && tap->latePress() == LatePress::hold) holdWhenLate = true;
        if (!tap->interest) continue;
        for (const auto& combo : tap->interest()) {
            if (auto grab = grabFor(combo)) wanted.insert(*grab);
        }
    }
    {
        // Decided ahead for the watchdog, which cannot wait for the main loop it watches.
        std::lock_guard lock(frozenMutex_);
        holdWhenLate_ = holdWhenLate;
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
    if (event.type == MappingNotify) {
        onMappingChanged(event);
    } else if (event.type == KeyPress && event.xkey.window == x_.root()) {
        onKeyPress(event.xkey.keycode, event.xkey.state, event.xkey.time, event.xkey.subwindow);
    } else if (event.type == KeyRelease && event.xkey.window == x_.root()) {
        swallowedDown_.erase(event.xkey.keycode);
        if (deferredReplay_ && deferredReplay_->keycode == event.xkey.keycode) {
            auto press = *std::exchange(deferredReplay_, std::nullopt);
            replay(press);
        }
    }
}

void LinuxEvents::onMappingChanged(XEvent event) {
    XRefreshKeyboardMapping(&event.xmapping);
    if (event.xmapping.request == MappingPointer) return;
    // Grabs are held by key, not by symbol: with the modifiers unchanged, only keys that moved are
    // grabbed anew. Dropping them all let a press through until they were back.
    auto masks = ModifierMasks::read(x_.display());
    if (masks != masks_) {
        for (const auto& grab : std::set<Grab>(grabbed_)) setGrabbed(grab, false);
        masks_ = masks;
    }
    updateGrabs();
}

KeyEvent LinuxEvents::keyEventFor(unsigned keycode, unsigned state) const {
    // The symbol at the level and group the press was at: on a layout whose Return needs a level
    // shift, that key without the shift is another key.
    KeySym keysym = NoSymbol;
    unsigned consumed = 0;
    XkbLookupKeySym(x_.display(), static_cast<KeyCode>(keycode), state, &consumed, &keysym);
    return KeyEvent{KeyEventType::keyDown, keyCodeForKeysym(keysym).value_or(-1), flagsForState(state, masks_), 0};
}

void LinuxEvents::onKeyPress(unsigned keycode, unsigned state, XTime time, XWindow focusedTopLevel) {
    // A repeat of a press we swallowed arrives through the still active grab: swallow it too.
    if (swallowedDown_.contains(keycode)) {
        XAllowEvents(x_.display(), AsyncKeyboard, time);
        return;
    }
    auto taken = Clock::now();
    bool news = false;
    {
        std::lock_guard lock(frozenMutex_);
        serverClock_.observe(time, taken);
        news = frozeAt(time, taken);
    }
    if (news) wakeWatchdog();
    if (onPress_) onPress_(focusedTopLevel);
    auto event = keyEventFor(keycode, state);
    auto verdict = event.keyCode >= 0 ? decide(event) : std::optional(event);
    auto settled = settle(time, verdict.has_value(), taken);
    if (settled == Settled::passedLate) {
        notifyLateDecision(event);
    } else if (!verdict) {
        swallowedDown_.insert(keycode);
        held_ = HeldPress{event, keycode, state};
    } else if (settled == Settled::heldLate) {
        // Held while undecided, and let through now that it is decided.
        swallowedDown_.insert(keycode);
        held_ = HeldPress{event, keycode, state};
        post(event);
    }
    if (settled == Settled::heldLate) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "Kestrel: a key press was held until checked: no decision within %.1f s", kDecisionTimeLimit);
        log_.write(line);
    }
    updateGrabs();
}

bool LinuxEvents::frozeAt(XTime time, Clock::time_point seenAt) {
    // The watchdog nearly always saw this very press first: its clock runs already.
    if (frozen_.time == time && !frozen_.seenByMainLoop) {
        frozen_.seenByMainLoop = true;
        return false;
    }
    frozen_ = Frozen{time, serverClock_.toLocal(time, seenAt), {}, false, false, true};
    return true;
}

void LinuxEvents::rawPressAt(XTime time, Clock::time_point seenAt) {
    // Presses come one at a time while the keyboard is frozen: an earlier one is old news, and so
    // is the press the main loop is deciding. Two presses may share a millisecond.
    auto age = static_cast<int32_t>(static_cast<uint32_t>(frozen_.time) - static_cast<uint32_t>(time));
    if (frozen_.time != 0 && (age > 0 || (age == 0 && !(frozen_.seenByMainLoop && frozen_.decided)))) return;
    frozen_ = Frozen{time, serverClock_.toLocal(time, seenAt), {}, false, false, false};
}

LinuxEvents::Settled LinuxEvents::settle(XTime time, bool pass, Clock::time_point taken) {
    std::lock_guard lock(frozenMutex_);
    if (frozen_.time != time) return Settled::passedLate;
    if (frozen_.decided) {
        lastFreeze_ = {time, secondsBetween(frozen_.since, frozen_.releasedAt), secondsBetween(taken, Clock::now())};
        return frozen_.heldLate ? Settled::heldLate : Settled::passedLate;
    }
    frozen_.decided = true;
    XAllowEvents(x_.display(), pass ? ReplayKeyboard : AsyncKeyboard, time);
    XFlush(x_.display());
    auto now = Clock::now();
    lastFreeze_ = {time, secondsBetween(frozen_.since, now), secondsBetween(taken, now)};
    return Settled::inTime;
}

LinuxEvents::Freeze LinuxEvents::lastFreeze() const {
    std::lock_guard lock(frozenMutex_);
    return lastFreeze_;
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

void LinuxEvents::wakeWatchdog() {
    uint64_t one = 1;
    if (wakeFd_ >= 0 && write(wakeFd_, &one, sizeof one) < 0) {
        // Already signalled: the counter is full, the watchdog wakes anyway.
    }
}

int LinuxEvents::selectRawPresses(XConnection& watch) {
    int opcode = -1, event = 0, error = 0, major = 2, minor = 2;
    // Raw events reach every client while another holds a grab only since XInput 2.1.
    if (!watch.isOpen() || !XQueryExtension(watch.display(), "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(watch.display(), &major, &minor) != Success || (major == 2 && minor < 1))
        return -1;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(watch.display(), watch.root(), &mask, 1);
    XFlush(watch.display());
    return opcode;
}

void LinuxEvents::watchRawPress(XConnection& watch, int opcode, const XEvent& event) {
    if (event.type != GenericEvent || event.xcookie.extension != opcode || event.xcookie.evtype != XI_RawKeyPress)
        return;
    XGenericEventCookie cookie = event.xcookie;
    if (!XGetEventData(watch.display(), &cookie)) return;
    const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
    unsigned keycode = static_cast<unsigned>(raw->detail);
    XTime time = raw->time;
    bool repeat = raw->flags & XIKeyRepeat;
    XFreeEventData(watch.display(), &cookie);
    auto now = Clock::now();
    std::lock_guard lock(frozenMutex_);
    serverClock_.observe(time, now);
    // Only a grabbed key can have frozen the keyboard; a repeat comes through an active grab.
    if (!repeat && grabbedKeycodes_.contains(keycode)) rawPressAt(time, now);
}

void LinuxEvents::watchdogLoop(const std::string& displayName) {
    // Opened and closed on this thread: a connection lost here must not leave its lock to another.
    XConnection watch(displayName.c_str(), XConnection::Dispatch::owner);
    int opcode = selectRawPresses(watch);
    if (opcode >= 0) watch.addHandler([&](const XEvent& event) { watchRawPress(watch, opcode, event); });
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard lock(frozenMutex_);
            if (stopping_) return;
            if (!frozen_.decided) {
                auto now = Clock::now();
                auto deadline = frozen_.since + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(kDecisionTimeLimit));
                if (now >= deadline) {
                    // Still frozen at the deadline: let the keyboard go, with the press handed on
                    // or, where the taps asked, held for their verdict.
                    frozen_.decided = true;
                    frozen_.heldLate = holdWhenLate_;
                    frozen_.releasedAt = now;
                    if (x_.isOpen()) {
                        XAllowEvents(x_.display(), holdWhenLate_ ? AsyncKeyboard : ReplayKeyboard, frozen_.time);
                        XFlush(x_.display());
                    }
                    continue;
                }
                timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
            }
        }
        bool watching = opcode >= 0 && watch.isOpen();
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {watching ? ConnectionNumber(watch.display()) : -1, POLLIN, 0}};
        poll(fds, 2, timeout);
        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            if (read(wakeFd_, &count, sizeof count) < 0) count = 0;
        }
        if (fds[1].revents) watch.dispatchPending();
    }
}

bool LinuxEvents::isPhysicallyDown(unsigned keycode) const {
    char keys[32] = {};
    XQueryKeymap(x_.display(), keys);
    return keycode < 256 && (keys[keycode / 8] & (1 << (keycode % 8)));
}

void LinuxEvents::post(const KeyEvent& event) {
    if (event.type != KeyEventType::keyDown || !x_.isOpen()) return;
    // The press we held, as the server delivered it; else the plain key with the chord's modifiers.
    std::optional<HeldPress> press;
    if (held_ && held_->event.keyCode == event.keyCode && held_->event.flags == event.flags) press = held_;
    else if (auto grab = grabFor(KeyCombo{event.keyCode, event.flags}))
        press = HeldPress{event, grab->keycode, grab->modifiers};
    held_.reset();
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

void LinuxEvents::replay(const HeldPress& press) {
    Display* display = x_.display();
    // Lifting our own grab is what keeps the replay from coming back to the taps.
    std::vector<Grab> lifted;
    for (const auto& grab : grabbed_) {
        if (grab.keycode == press.keycode) lifted.push_back(grab);
    }
    for (const auto& grab : lifted) setGrabbed(grab, false);

    // The original press held its modifiers and level shifts; hold those that are not held now.
    // The locks are left alone: pressing one would toggle it.
    ::Window rootReturn, childReturn;
    int rootX, rootY, winX, winY;
    unsigned now = 0;
    XQueryPointer(display, x_.root(), &rootReturn, &childReturn, &rootX, &rootY, &winX, &winY, &now);
    std::vector<KeyCode> pressed;
    for (int bit = ShiftMapIndex; bit <= Mod5MapIndex; ++bit) {
        unsigned mask = 1u << bit;
        KeyCode key = masks_.keys[bit];
        if (mask == LockMask || mask == masks_.numLock || !key || !(press.state & mask) || (now & mask)) continue;
        XTestFakeKeyEvent(display, key, True, CurrentTime);
        pressed.push_back(key);
    }
    // And the group it was typed in.
    XkbStateRec current{};
    XkbGetState(display, XkbUseCoreKbd, &current);
    unsigned group = XkbGroupForCoreState(press.state);
    bool regroup = group != current.group;
    if (regroup) XkbLockGroup(display, XkbUseCoreKbd, group);
    XTestFakeKeyEvent(display, press.keycode, True, CurrentTime);
    XTestFakeKeyEvent(display, press.keycode, False, CurrentTime);
    if (regroup) XkbLockGroup(display, XkbUseCoreKbd, current.locked_group);
    for (auto it = pressed.rbegin(); it != pressed.rend(); ++it) XTestFakeKeyEvent(display, *it, False, CurrentTime);
    // The server has delivered the replay once this returns; only then may the grab come back.
    XSync(display, False);
    for (const auto& grab : lifted) setGrabbed(grab, true);
}

}  // namespace desktop::x11
