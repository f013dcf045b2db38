// "Will change" announcements for observable state: a published field's setter announces, then
// assigns. Subscriptions are RAII tokens. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace desktop {

template <class... Args>
class Signal;

class Subscription {
public:
    Subscription() = default;
    Subscription(Subscription&&) noexcept = default;
    Subscription& operator=(Subscription&&) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { cancel(); }
    void cancel();

private:
    friend class Observable;
    template <class... Args>
    friend class Signal;
    using Observers = std::map<uint64_t, std::function<void()>>;
    // Removes entry `id` from the list behind `list`; the list's own type knows how.
    using Eraser = void (*)(void* list, uint64_t id);
    Subscription(std::weak_ptr<void> list, Eraser erase, uint64_t id)
        : list_(std::move(list)), erase_(erase), id_(id) {}
    std::weak_ptr<void> list_;
    Eraser erase_ = nullptr;
    uint64_t id_ = 0;
};

class Observable {
public:
    Observable() = default;
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;
    virtual ~Observable() = default;

    [[nodiscard]] Subscription observe(std::function<void()> willChange);

protected:
    void announce();

private:
    std::shared_ptr<Subscription::Observers> observers_ =
        std::make_shared<Subscription::Observers>();
    uint64_t nextId_ = 1;
};

// A list of observers told with arguments ("did happen" notifications rather than "will change").
// Main thread only, like Observable.
template <class... Args>
class Signal {
public:
    [[nodiscard]] Subscription connect(std::function<void(Args...)> observer) {
        auto id = slots_->nextId++;
        slots_->observers.emplace(id, std::move(observer));
        return Subscription(slots_, &erase, id);
    }

    // Observers may connect or cancel while being told; tells the ones present now.
    void emit(const Args&... args) const {
        auto slots = slots_;  // an observer may destroy the signal's owner
        std::vector<std::pair<uint64_t, std::function<void(Args...)>>> snapshot(
            slots->observers.begin(), slots->observers.end());
        for (auto& [id, fn] : snapshot) {
            if (slots->observers.contains(id)) fn(args...);
        }
    }

    bool empty() const { return slots_->observers.empty(); }

private:
    struct Slots {
        std::map<uint64_t, std::function<void(Args...)>> observers;
        uint64_t nextId = 1;
    };
    static void erase(void* list, uint64_t id) { static_cast<Slots*>(list)->observers.erase(id); }
    std::shared_ptr<Slots> slots_ = std::make_shared<Slots>();
};

}  // namespace desktop
