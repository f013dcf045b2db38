// The gate decides each Send key press inside the event tap; the system disables a tap whose
// callback is slow, so the decision must stay well under a millisecond on a typical draft.
#include <benchmark/benchmark.h>

#include "DraftBenchSupport.h"
#include "Kestrel/SendGate.h"

namespace {

const desktop::KeyEvent kReturn{desktop::KeyEventType::keyDown, 36, 0, 0};

// The text changed since the last poll: the on-demand refresh runs the local check.
void HandleSendChangedDraft(benchmark::State& state) {
    bench::WatchedSlack f;
    auto gate = std::make_shared<kestrel::SendGate>(f.state, f.watcher, f.engine);
    const std::string drafts[] = {bench::riskyDraft(" Thanks!"), bench::riskyDraft(" Thanks!!")};
    size_t i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.sim.simApps().setText(drafts[i++ % 2]);
        state.ResumeTiming();
        benchmark::DoNotOptimize(gate->handle(desktop::KeyEventType::keyDown, kReturn));
    }
    if (!gate->pending()) state.SkipWithError("the send was not held");
}
BENCHMARK(HandleSendChangedDraft)->Unit(benchmark::kMicrosecond);

// The poll already saw this text: the decision reads it again and reuses the check.
void HandleSendUnchangedDraft(benchmark::State& state) {
    bench::WatchedSlack f;
    auto gate = std::make_shared<kestrel::SendGate>(f.state, f.watcher, f.engine);
    for (auto _ : state) benchmark::DoNotOptimize(gate->handle(desktop::KeyEventType::keyDown, kReturn));
    if (!gate->pending()) state.SkipWithError("the send was not held");
}
BENCHMARK(HandleSendUnchangedDraft)->Unit(benchmark::kMicrosecond);

// A key that is not a Send chord: the common case while typing.
void HandleOrdinaryKey(benchmark::State& state) {
    bench::WatchedSlack f;
    auto gate = std::make_shared<kestrel::SendGate>(f.state, f.watcher, f.engine);
    const desktop::KeyEvent letter{desktop::KeyEventType::keyDown, 0, 0, 0};
    for (auto _ : state) benchmark::DoNotOptimize(gate->handle(desktop::KeyEventType::keyDown, letter));
}
BENCHMARK(HandleOrdinaryKey)->Unit(benchmark::kMicrosecond);

// Hostile input: a changed 1 MB draft. The engine's own time limit bounds the check.
void HandleSendChangedHugeDraft(benchmark::State& state) {
    bench::WatchedSlack f;
    auto gate = std::make_shared<kestrel::SendGate>(f.state, f.watcher, f.engine);
    std::string huge;
    while (huge.size() < (1 << 20)) huge += bench::riskyDraft();
    const std::string drafts[] = {huge + " a", huge + " b"};
    size_t i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.sim.simApps().setText(drafts[i++ % 2]);
        state.ResumeTiming();
        benchmark::DoNotOptimize(gate->handle(desktop::KeyEventType::keyDown, kReturn));
    }
    state.counters["held"] = gate->pending() ? 1 : 0;
}
BENCHMARK(HandleSendChangedHugeDraft)->Unit(benchmark::kMillisecond);

}  // namespace
