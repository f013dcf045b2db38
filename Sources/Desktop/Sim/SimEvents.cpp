#include "Desktop/Sim/SimEvents.h"

namespace desktop::sim {

class SimEvents::Tap final : public EventTap {
public:
    explicit Tap(std::shared_ptr<TapState> state) : state_(std::move(state)) {}
    void enable(bool enabled) override { state_->enabled = enabled; }
    bool isEnabled() const override { return state_->enabled; }
    void setKeyInterest(KeyInterest interest) override { state_->interest = std::move(interest); }
    // Simulated taps are never cut short.
    void setLatePress(LatePressPolicy) override {}

private:
    std::shared_ptr<TapState> state_;  // the Core sees it weakly: dropping the tap removes it
};

SimEvents::SimEvents(RunLoop& runLoop, std::function<void(const KeyEvent&)> deliver)
    : runLoop_(runLoop), core_(std::make_shared<Core>()) {
    core_->deliver = std::move(deliver);
}

SimEvents::~SimEvents() = default;

std::unique_ptr<EventTap> SimEvents::createTap(uint64_t mask, TapCallback callback) {
    if (refuse_) return nullptr;
    std::erase_if(core_->taps, [](const auto& tap) { return tap.expired(); });
    auto state = std::make_shared<TapState>(TapState{mask, std::move(callback)});
    core_->taps.insert(core_->taps.begin(), state);
    return std::make_unique<Tap>(std::move(state));
}

void SimEvents::Core::dispatch(KeyEvent event) {
    auto snapshot = taps;  // a callback may add or drop taps
    for (const auto& weak : snapshot) {
        auto tap = weak.lock();
        if (!tap || !tap->enabled || !(tap->mask & eventMask(event.type))) continue;
        auto verdict = tap->callback(event.type, event);
        if (!verdict) return;
        event = *verdict;
    }
    delivered.push_back(event);
    if (deliver) deliver(event);
}

void SimEvents::post(const KeyEvent& event) {
    runLoop_.async([weak = std::weak_ptr(core_), event] {
        if (auto core = weak.lock()) core->dispatch(event);
    });
}

void SimEvents::pressKey(int64_t keyCode, uint64_t flags) {
    core_->dispatch(KeyEvent{KeyEventType::keyDown, keyCode, flags, 0});
    core_->dispatch(KeyEvent{KeyEventType::keyUp, keyCode, flags, 0});
}

std::vector<KeyCombo> SimEvents::keysOfInterest() const {
    std::vector<KeyCombo> keys;
    for (const auto& weak : core_->taps) {
        auto tap = weak.lock();
        if (!tap || !tap->enabled || !tap->interest) continue;
        for (const auto& key : tap->interest()) keys.push_back(key);
    }
    return keys;
}

void SimEvents::disableTaps(KeyEventType reason) {
    auto snapshot = core_->taps;
    for (const auto& weak : snapshot) {
        auto tap = weak.lock();
        if (!tap || !tap->enabled) continue;
        tap->enabled = false;
        tap->callback(reason, KeyEvent{reason, 0, 0, 0});
    }
}

}  // namespace desktop::sim
