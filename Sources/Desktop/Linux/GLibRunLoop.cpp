#include "Desktop/Linux/GLibRunLoop.h"

#include <glib.h>

#include <cmath>
#include <limits>

namespace desktop::x11 {

struct GLibRunLoop::Source {
    GSource base;
    GLibRunLoop* owner;
};

namespace {
GSourceFuncs sourceFuncs;
}  // namespace

bool GLibRunLoop::isReady(int* timeout) const {
    if (runLoop_.hasPendingTasks()) return true;
    double wait = runLoop_.nextDue() - runLoop_.now();
    if (wait <= 0) return true;
    if (timeout) {
        // Round up: waking a little late fires the timer; waking early only costs a turn.
        *timeout = wait == std::numeric_limits<double>::infinity()
                       ? -1
                       : static_cast<int>(std::min(std::ceil(wait * 1000), 3'600'000.0));
    }
    return false;
}

int GLibRunLoop::prepare(GSource* source, int* timeout) {
    return reinterpret_cast<Source*>(source)->owner->isReady(timeout);
}

int GLibRunLoop::check(GSource* source) { return reinterpret_cast<Source*>(source)->owner->isReady(nullptr); }

int GLibRunLoop::dispatch(GSource* source, int (*)(void*), void*) {
    auto* owner = reinterpret_cast<Source*>(source)->owner;
    owner->runLoop_.runDue();
    if (owner->afterTurn_) owner->afterTurn_();
    return G_SOURCE_CONTINUE;
}

GLibRunLoop::GLibRunLoop(RunLoop& runLoop) : runLoop_(runLoop) {
    sourceFuncs.prepare = &GLibRunLoop::prepare;
    sourceFuncs.check = &GLibRunLoop::check;
    sourceFuncs.dispatch = &GLibRunLoop::dispatch;
    source_ = g_source_new(&sourceFuncs, sizeof(Source));
    reinterpret_cast<Source*>(source_)->owner = this;
    g_source_set_name(source_, "kestrel run loop");
    g_source_attach(source_, nullptr);
    runLoop_.setDriver(this);
}

GLibRunLoop::~GLibRunLoop() {
    runLoop_.setDriver(nullptr);
    g_source_destroy(source_);
    g_source_unref(source_);
}

void GLibRunLoop::wake() { g_main_context_wakeup(nullptr); }

void GLibRunLoop::run(double until) {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    GMainLoop* outer = running_.exchange(loop);
    GSource* limit = nullptr;
    if (until >= 0) {
        limit = g_timeout_source_new(static_cast<guint>(until * 1000));
        g_source_set_callback(limit, [](gpointer data) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(data));
            return G_SOURCE_REMOVE;
        }, loop, nullptr);
        g_source_attach(limit, nullptr);
    }
    g_main_loop_run(loop);
    if (limit) {
        g_source_destroy(limit);
        g_source_unref(limit);
    }
    running_ = outer;
    g_main_loop_unref(loop);
}

void GLibRunLoop::stop() {
    // Also called from other threads (the console's reader): quitting a GMainLoop is thread-safe.
    if (auto* loop = running_.load()) g_main_loop_quit(loop);
}

void GLibRunLoop::iterate(double seconds) {
    if (seconds <= 0) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        return;
    }
    gint64 end = g_get_monotonic_time() + static_cast<gint64>(seconds * 1e6);
    while (g_get_monotonic_time() < end) {
        guint wake = g_timeout_add(static_cast<guint>(std::max<gint64>(1, (end - g_get_monotonic_time()) / 1000)),
                                   [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr);
        g_main_context_iteration(nullptr, TRUE);
        if (auto* s = g_main_context_find_source_by_id(nullptr, wake)) g_source_destroy(s);
    }
}

}  // namespace desktop::x11
