#include "Kestrel/SendGate.h"

#include <algorithm>

#include "Desktop/Desktop.h"
#include "Kestrel/AX.h"
#include "Kestrel/Analytics.h"

namespace kestrel {

using desktop::KeyEvent;
using desktop::KeyEventType;

namespace {
nlohmann::json ruleIds(const std::vector<Finding>& findings) {
    auto ids = nlohmann::json::array();
    for (const auto& finding : findings) ids.push_back(finding.id);
    return ids;
}
}  // namespace

SendGate::SendGate(std::shared_ptr<DraftState> state, std::shared_ptr<FocusWatcher> watcher,
                   std::shared_ptr<Engine> engine)
    : state_(std::move(state)), watcher_(std::move(watcher)), engine_(std::move(engine)) {}

bool SendGate::start() {
    if (tap_) return true;
    tap_ = desktop::current().events().createTap(
        kEventMask, [weak = weak_from_this()](KeyEventType type, const KeyEvent& event) {
            auto self = weak.lock();
            return self ? self->handle(type, event) : std::optional(event);
        });
    if (!tap_) return false;
    tap_->setKeyInterest([weak = weak_from_this()] {
        auto self = weak.lock();
        return self ? self->keysOfInterest() : std::vector<desktop::KeyCombo>{};
    });
    // A press in a supported app's compose box never passes unchecked, however long its check takes.
    tap_->setLatePress([weak = weak_from_this()] {
        auto self = weak.lock();
        return self && self->state_->app() && self->state_->element() ? desktop::LatePress::hold
                                                                       : desktop::LatePress::pass;
    });
    tap_->enable(true);
    running_ = true;
    return true;
}

std::vector<desktop::KeyCombo> SendGate::keysOfInterest() const {
    using namespace desktop::keyflags;
    std::vector<desktop::KeyCombo> keys = {{kHotkeyKeyCode, option | command}};
    // Escape belongs to the app in front unless our panel is there to take it.
    if (wantsEscape && wantsEscape()) {
        keys.push_back({kEscapeKeyCode, 0});
        keys.push_back({kEscapeKeyCode, shift});
    }
    // Whichever app is in front: a press right after a switch must not slip past, and each press
    // is decided for the app that has the focus at that press. A browser's web app is known only
    // at the press, so each row's chord as Linux writes it counts too.
    auto add = [&](const SupportedApp& app) {
        for (const auto& key : app.send.combos()) {
            if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
        }
    };
    for (const auto& app : SupportedApp::all()) {
        if (Prefs::isMuted(app.bundleID)) continue;
        add(app);
        if (!app.linuxLabel.empty()) add(app.linuxForm());
    }
    return keys;
}

bool SendGate::isHotkey(const KeyEvent& event) const {
    return event.keyCode == kHotkeyKeyCode && (event.flags & kHotkeyModifierMask) == kHotkeyModifiers;
}

bool SendGate::isEscape(const KeyEvent& event) const {
    return event.keyCode == kEscapeKeyCode && (event.flags & kEscapeModifierMask) == 0;
}

std::optional<KeyEvent> SendGate::handle(KeyEventType type, const KeyEvent& event) {
    if (type == KeyEventType::tapDisabledByTimeout || type == KeyEventType::tapDisabledByUserInput) {
        if (tap_) tap_->enable(true);
        // The press in flight went through after all: a copy kept of it must never be replayed.
        if (pending_ == event) pending_.reset();
        return event;
    }
    if (type != KeyEventType::keyDown) return event;
    if (event.sourceUserData == kReplayMarker) return event;
    if (isHotkey(event)) {
        desktop::current().runLoop().async([weak = weak_from_this()] {
            if (auto self = weak.lock(); self && self->onHotkey) self->onHotkey();
        });
        return std::nullopt;
    }
    if (isEscape(event) && onEscape && onEscape()) return std::nullopt;
    return handleSend(event);
}

std::optional<KeyEvent> SendGate::handleSend(const KeyEvent& event) {
    auto front = desktop::current().workspace().frontmostApplication();
    if (!front) return event;
    auto app = watcher_->supportedApp(*front);
    if (!app || !app->send.matches(event)) return event;
    if (!engine_->channelInfo(app->channel).gate) return event;

    // Decide on the text of this very moment, not of the last poll.
    auto local = watcher_->refresh();
    if (!state_->app() || *state_->app() != *app) return event;
    // No words means nothing but whitespace: trimmed, the draft is empty.
    if (state_->wordCount() == 0) return event;

    auto risks = state_->risks();
    if (!risks.empty()) {
        pending_ = event;
        heldFrom_.reset();
        if (state_->element()) heldFrom_ = Origin{*front, *state_->element()};
        nlohmann::json blocked = {{"platform", app->name},
                                  {"channel", app->channel},
                                  {"risks", risks.size()},
                                  {"findings", state_->findings().size()},
                                  {"rules", ruleIds(risks)}};
        // The panel first: the person waits for it, not for the record.
        desktop::current().runLoop().async([weak = weak_from_this(), blocked = std::move(blocked)] {
            // Unless the press went through meanwhile (a decision that came too late).
            if (auto self = weak.lock(); self && self->onHold && self->pending_) self->onHold();
            Analytics::track("Send Blocked", blocked);
        });
        return std::nullopt;
    }
    Analytics::track(state_->findings().empty() ? "Send Clean" : "Send Reviewed",
                     {{"platform", app->name},
                      {"channel", app->channel},
                      {"warnings", local.findings.size()}});
    if (engine_->channelInfo(app->channel).ai == FocusWatcher::kDepthSend)
        watcher_->runAI(FocusWatcher::kDepthSend);
    return event;
}

void SendGate::dropPending() {
    pending_.reset();
    heldFrom_.reset();
}

bool SendGate::heldDraftGone() const { return heldFrom_ && !AX::attribute(heldFrom_->element, AX::kRole); }

bool SendGate::heldDraftInFront() const {
    if (!heldFrom_) return false;
    auto& desk = desktop::current();
    auto front = desk.workspace().frontmostApplication();
    if (front != heldFrom_->app) return false;
    // A browser's address bar or another tab of the same window is not the web app held.
    if (!watcher_->supportedApp(*front)) return false;
    auto focused = AX::element(desk.accessibility().applicationElement(front->pid), AX::kFocusedUIElement);
    if (!focused) return false;
    // A send held from a mail composer's Subject line was held on its body.
    return *focused == heldFrom_->element || AX::element(*focused, AX::kComposerBody) == heldFrom_->element;
}

bool SendGate::release() {
    if (!pending_) return false;
    auto event = *pending_;
    bool inFront = heldDraftInFront();
    dropPending();
    if (!inFront) return false;
    event.sourceUserData = kReplayMarker;
    auto& events = desktop::current().events();
    events.post(event);
    auto keyUp = event;
    keyUp.type = KeyEventType::keyUp;
    events.post(keyUp);
    return true;
}

}  // namespace kestrel
