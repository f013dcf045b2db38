// The focus watcher's poll runs every 0.4 s on the main thread for as long as the app runs; when
// nothing changed it must cost microseconds.
#include <benchmark/benchmark.h>

#include "DraftBenchSupport.h"

namespace {

void PollTickUnchanged(benchmark::State& state) {
    bench::WatchedSlack f;
    for (auto _ : state) benchmark::DoNotOptimize(f.watcher->refresh());
    state.counters["words"] = static_cast<double>(f.state->wordCount());
}
BENCHMARK(PollTickUnchanged)->Unit(benchmark::kMicrosecond);

void PollTickNoField(benchmark::State& state) {
    bench::WatchedSlack f;
    f.sim.simApps().focusNothing();
    for (auto _ : state) benchmark::DoNotOptimize(f.watcher->refresh());
}
BENCHMARK(PollTickNoField)->Unit(benchmark::kMicrosecond);

}  // namespace
