// Drives our run loop from GLib's default main context, so that its timers and main queue share
// one thread and one wait with X events, AT-SPI signals and GTK windows. Main thread, except
// wake() and stop(). Owned by the Linux desktop, which outlives every use of its run loop.
#pragma once

#include <atomic>
#include <functional>

#include "Desktop/RunLoop.h"

typedef struct _GSource GSource;
typedef struct _GMainLoop GMainLoop;

namespace desktop::x11 {

class GLibRunLoop final : public RunLoopDriver {
public:
    // Attaches to the default main context and becomes `runLoop`'s driver.
    explicit GLibRunLoop(RunLoop& runLoop);
    ~GLibRunLoop() override;
    GLibRunLoop(const GLibRunLoop&) = delete;
    GLibRunLoop& operator=(const GLibRunLoop&) = delete;

    void wake() override;
    void run(double until) override;
    void stop() override;

    // Called after every turn that ran queued work or timers; the desktop re-checks its key
    // grabs there, since what the application wants grabbed changes only in such a turn.
    void setAfterTurn(std::function<void()> afterTurn) { afterTurn_ = std::move(afterTurn); }

    // Iterates the default context without blocking until nothing is ready, or blocking up to
    // `seconds` for something to happen. Tests and benchmarks use it to let events arrive.
    static void iterate(double seconds = 0);

private:
    struct Source;
    static int prepare(GSource* source, int* timeout);
    static int check(GSource* source);
    static int dispatch(GSource* source, int (*)(void*), void*);
    bool isReady(int* timeout) const;

    RunLoop& runLoop_;
    GSource* source_;
    std::atomic<GMainLoop*> running_{nullptr};
    std::function<void()> afterTurn_;
};

}  // namespace desktop::x11
