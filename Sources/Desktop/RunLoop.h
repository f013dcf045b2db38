// The main run loop: timers and the main queue. Everything in the application runs on the thread
// that drives it; `async` is the one entry point that other threads may use.
// Owned by the Desktop; the program drives it with a real clock, tests with a virtual one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace desktop {

enum class Repeat { no, yes };
enum class Clock { real, virtualTime };

class RunLoop;

// Runs the loop inside another event loop (GLib's main context on the real desktop) that also
// serves the desktop's own event sources. The driver calls RunLoop::runDue() when work is due.
class RunLoopDriver {
public:
    virtual ~RunLoopDriver() = default;
    // Any thread: work was queued; the driver must turn soon.
    virtual void wake() = 0;
    // Runs until stop() or until `until` seconds have passed (negative: no limit).
    virtual void run(double until) = 0;
    // Any thread.
    virtual void stop() = 0;
};

// A scheduled timer. Destroying the handle or calling invalidate() cancels it.
class Timer {
public:
    Timer() = default;
    Timer(Timer&&) noexcept = default;
    Timer& operator=(Timer&& other) noexcept;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer() { invalidate(); }

    void invalidate();
    bool isValid() const;

private:
    friend class RunLoop;
    struct State;
    explicit Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

class RunLoop {
public:
    explicit RunLoop(Clock clock);
    ~RunLoop();

    Clock clock() const { return clock_; }
    // Seconds since the loop was made (virtual: the virtual clock).
    double now() const;

    Timer schedule(double interval, Repeat repeat, std::function<void()> action);
    // Queues `task` onto the main queue; safe from any thread.
    void async(std::function<void()> task);

    // Runs queued tasks until the queue is empty (tasks queued meanwhile run too).
    void drain();
    // Virtual clock: moves time forward, firing every due timer in due-time order and draining
    // the queue between them.
    void advance(double seconds);
    // Real clock: runs timers and the queue until stop() or until `until` seconds have passed.
    void run(double until = -1);
    void stop();
    // Hands waiting, running and stopping to a driver (none: the loop's own wait). Set it before
    // any other thread queues work; the driver outlives its use here.
    void setDriver(RunLoopDriver* driver) { driver_ = driver; }
    // One turn: runs the queue and every timer due now. For drivers.
    void runDue();
    bool hasPendingTasks() const;
    // When the earliest valid timer is due; infinity when none is scheduled.
    double nextDue() const;

private:
    struct Entry {
        std::weak_ptr<Timer::State> timer;
    };
    bool fireOneDue(double limit);

    Clock clock_;
    double virtualNow_ = 0;
    int64_t realStart_;
    uint64_t nextSeq_ = 0;
    std::multimap<std::pair<double, uint64_t>, Entry> timers_;

    mutable std::mutex queueMutex_;
    std::condition_variable queueSignal_;
    std::deque<std::function<void()>> queue_;
    bool stopped_ = false;
    std::atomic<RunLoopDriver*> driver_{nullptr};
};

}  // namespace desktop
