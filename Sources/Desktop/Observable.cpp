#include "Desktop/Observable.h"

#include <vector>

namespace desktop {

Subscription& Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        cancel();
        list_ = std::move(other.list_);
        erase_ = other.erase_;
        id_ = other.id_;
    }
    return *this;
}

void Subscription::cancel() {
    if (auto list = list_.lock()) erase_(list.get(), id_);
    list_.reset();
}

Subscription Observable::observe(std::function<void()> willChange) {
    auto id = nextId_++;
    observers_->emplace(id, std::move(willChange));
    return Subscription(
        observers_, [](void* list, uint64_t id) { static_cast<Subscription::Observers*>(list)->erase(id); },
        id);
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
