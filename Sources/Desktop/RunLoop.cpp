#include "Desktop/RunLoop.h"

#include <chrono>
#include <cmath>
#include <limits>

namespace desktop {

struct Timer::State {
    double interval;
    Repeat repeat;
    std::function<void()> action;
    bool valid = true;
};

Timer& Timer::operator=(Timer&& other) noexcept {
    if (this != &other) {
        invalidate();
        state_ = std::move(other.state_);
    }
    return *this;
}

void Timer::invalidate() {
    if (state_) {
        state_->valid = false;
        state_->action = nullptr;
        state_.reset();
    }
}

bool Timer::isValid() const { return state_ && state_->valid; }

namespace {
int64_t steadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

RunLoop::RunLoop(Clock clock) : clock_(clock), realStart_(steadyNanos()) {}
RunLoop::~RunLoop() = default;

double RunLoop::now() const {
    if (clock_ == Clock::virtualTime) return virtualNow_;
    return static_cast<double>(steadyNanos() - realStart_) / 1e9;
}

Timer RunLoop::schedule(double interval, Repeat repeat, std::function<void()> action) {
    auto state = std::make_shared<Timer::State>(Timer::State{interval, repeat, std::move(action)});
    timers_.emplace(std::make_pair(now() + interval, nextSeq_++), Entry{state});
    return Timer(state);
}

void RunLoop::async(std::function<void()> task) {
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(std::move(task));
    }
    queueSignal_.notify_one();
    if (auto* driver = driver_.load()) driver->wake();
}

bool RunLoop::hasPendingTasks() const {
    std::lock_guard lock(queueMutex_);
    return !queue_.empty();
}

void RunLoop::drain() {
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(queueMutex_);
            if (queue_.empty()) return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task();
    }
}

double RunLoop::nextDue() const {
    for (const auto& [due, entry] : timers_) {
        if (auto t = entry.timer.lock(); t && t->valid) return due.first;
    }
    return std::numeric_limits<double>::infinity();
}

// Fires the earliest valid timer due at or before `limit`; answers whether one fired.
bool RunLoop::fireOneDue(double limit) {
    while (!timers_.empty()) {
        auto it = timers_.begin();
        if (it->first.first > limit) return false;
        auto due = it->first.first;
        auto state = it->second.timer.lock();
        timers_.erase(it);
        if (!state || !state->valid) continue;
        if (state->repeat == Repeat::yes) {
            // Repeating timers keep their cadence from the due time, not from when they ran; ticks
            // missed while the loop was busy are skipped, never made up in a burst.
            double step = state->interval > 0 ? state->interval : 1e-3;
            double nextDue = due + step;
            if (nextDue <= limit) nextDue += (std::floor((limit - nextDue) / step) + 1) * step;
            timers_.emplace(std::make_pair(nextDue, nextSeq_++), Entry{state});
        } else {
            state->valid = false;
        }
        auto action = state->action;  // the action may invalidate its own timer
        if (action) action();
        return true;
    }
    return false;
}

void RunLoop::advance(double seconds) {
    double target = virtualNow_ + seconds;
    drain();
    for (;;) {
        double due = nextDue();
        if (due > target) break;
        if (due > virtualNow_) virtualNow_ = due;
        fireOneDue(virtualNow_);
        drain();
    }
    virtualNow_ = target;
    drain();
}

void RunLoop::runDue() {
    drain();
    // Only what was due as the turn began: a timer that comes due while others run waits for the
    // next turn, so the loop's other sources (the keyboard) are never starved.
    double limit = now();
    while (fireOneDue(limit)) drain();
}

void RunLoop::stop() {
    if (auto* driver = driver_.load()) return driver->stop();
    {
        std::lock_guard lock(queueMutex_);
        stopped_ = true;
    }
    queueSignal_.notify_all();
}

void RunLoop::run(double until) {
    if (auto* driver = driver_.load()) return driver->run(until);
    double end = until < 0 ? std::numeric_limits<double>::infinity() : now() + until;
    {
        std::lock_guard lock(queueMutex_);
        stopped_ = false;
    }
    for (;;) {
        runDue();
        double wake = std::min(nextDue(), end);
        std::unique_lock lock(queueMutex_);
        if (stopped_) return;
        if (now() >= end) return;
        if (!queue_.empty()) continue;
        double wait = wake - now();
        if (wait > 0) {
            auto d = std::chrono::duration<double>(std::min(wait, 3600.0));
            queueSignal_.wait_for(lock, d, [this] { return stopped_ || !queue_.empty(); });
        }
        if (stopped_) return;
    }
}

}  // namespace desktop
