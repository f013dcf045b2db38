// "Will change" announcements for observable state: a published field's setter announces, then
// assigns. Subscriptions are RAII tokens. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace desktop {

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
    using Observers = std::map<uint64_t, std::function<void()>>;
    Subscription(std::weak_ptr<Observers> observers, uint64_t id)
        : observers_(std::move(observers)), id_(id) {}
    std::weak_ptr<Observers> observers_;
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

}  // namespace desktop
