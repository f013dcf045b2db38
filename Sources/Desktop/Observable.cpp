#include "Desktop/Observable.h"

#include <vector>

namespace desktop {

Subscription& Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        cancel();
        observers_ = std::move(other.observers_);
        id_ = other.id_;
    }
    return *this;
}

void Subscription::cancel() {
    if (auto observers = observers_.lock()) observers->erase(id_);
    observers_.reset();
}

Subscription Observable::observe(std::function<void()> willChange) {
    auto id = nextId_++;
    observers_->emplace(id, std::move(willChange));
    return Subscription(observers_, id);
}

void Observable::announce() {
    // Observers may subscribe or cancel while being told; tell the ones present now.
    std::vector<std::pair<uint64_t, std::function<void()>>> snapshot(observers_->begin(),
                                                                     observers_->end());
    for (auto& [id, fn] : snapshot) {
        if (observers_->contains(id)) fn();
    }
}

}  // namespace desktop
