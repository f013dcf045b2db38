// Stands in front of the supported apps' Send shortcut: an event tap that holds a Send key press
// while the draft has a risk, replays it on request, and carries the global check shortcut and
// Escape. Main thread (the tap's callback runs on the main run loop). Owned by AppDelegate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "Desktop/Events.h"
#include "Desktop/KeyEvent.h"
#include "Desktop/Workspace.h"
#include "Kestrel/Draft.h"
#include "Kestrel/Engine.h"

namespace kestrel {

class SendGate : public std::enable_shared_from_this<SendGate> {
public:
    // Written into the source user data of replayed events: "KSTL".
    static constexpr int64_t kReplayMarker = 0x4B53544C;
    static constexpr uint64_t kEventMask = desktop::eventMask(desktop::KeyEventType::keyDown);
    // ⌥⌘C with neither Shift nor Control.
    static constexpr int64_t kHotkeyKeyCode = 8;
    static constexpr uint64_t kHotkeyModifierMask = 0x1E0000;
    static constexpr uint64_t kHotkeyModifiers = 0x180000;
    // Escape without Control, Option or Command.
    static constexpr int64_t kEscapeKeyCode = 53;
    static constexpr uint64_t kEscapeModifierMask = 0x1C0000;

    SendGate(std::shared_ptr<DraftState> state, std::shared_ptr<FocusWatcher> watcher,
             std::shared_ptr<Engine> engine);

    // A send was held: the application opens the review panel. Runs after the tap returned.
    std::function<void()> onHold;
    // The global check shortcut: the application toggles the panel. Runs after the tap returned.
    std::function<void()> onHotkey;
    // Escape: answers whether the application consumed it. Asked from inside the tap.
    std::function<bool()> onEscape;
    // Whether Escape may be consumed now (our panel is open). A desktop that grabs the keys it
    // wants (X11) grabs Escape only then, so that it otherwise never leaves the app in front.
    std::function<bool()> wantsEscape;

    // Installs the tap; answers whether it exists afterwards.
    bool start();
    bool running() const { return running_; }
    // The tap's decision for one event: the event to let through, or none to swallow it.
    std::optional<desktop::KeyEvent> handle(desktop::KeyEventType type, const desktop::KeyEvent& event);
    // Replays the held send with the replay marker (key-down, then key-up), but only while the app
    // it was held from is in front with the same compose element focused: elsewhere the replayed
    // key would send another message. Either way nothing stays held; answers whether it replayed.
    bool release();
    // The key-downs the tap must see now: the check shortcut, Escape while wanted, and the Send
    // chords of every supported, unmuted app.
    std::vector<desktop::KeyCombo> keysOfInterest() const;

    // The held Send key press.
    const std::optional<desktop::KeyEvent>& pending() const { return pending_; }
    // The panel drops the held send when the send is cancelled.
    void dropPending();
    // Whether the compose element the held send came from is gone (its window closed).
    bool heldDraftGone() const;

private:
    bool isHotkey(const desktop::KeyEvent& event) const;
    bool isEscape(const desktop::KeyEvent& event) const;
    // Steps from the front app on: a supported, unmuted app's gated Send chord.
    std::optional<desktop::KeyEvent> handleSend(const desktop::KeyEvent& event);
    // Whether the app and the compose element the send was held from are in front now.
    bool heldDraftInFront() const;

    std::shared_ptr<DraftState> state_;
    std::shared_ptr<FocusWatcher> watcher_;
    std::shared_ptr<Engine> engine_;
    std::unique_ptr<desktop::EventTap> tap_;
    std::optional<desktop::KeyEvent> pending_;
    // Where the held send was typed: the front app and its focused compose element at the time.
    struct Origin {
        desktop::RunningApplication app;
        desktop::Element element;
    };
    std::optional<Origin> heldFrom_;
    bool running_ = false;
};

}  // namespace kestrel
