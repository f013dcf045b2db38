// The engine check runs on the main thread on every text change and inside the key-press path.
#include <benchmark/benchmark.h>

#include "Desktop/Sim/SimDesktop.h"
#include "Kestrel/Config.h"
#include "Kestrel/Engine.h"

namespace {

// A plausible e-mail paragraph with a little of everything the rules look at.
constexpr const char* kParagraph =
    "Hi Dana, thanks for the quick turnaround on the quarterly numbers. I went through the draft "
    "and left a few notes in the shared folder; the revenue table still uses last month's "
    "exchange rate, so please refresh it before Friday. The invoice number is 2024-118-77 and "
    "the order ships from the Denver warehouse. Let me know if you need anything else from me. ";

std::string draftOfWords(size_t words) {
    std::string text;
    size_t count = 0;
    while (count < words) {
        text += kParagraph;
        count += 60;
    }
    return text + "\n\nBest,\nSam";
}

struct Fixture {
    desktop::sim::SimDesktop sim;
    desktop::InstallGuard installed{sim};
    std::shared_ptr<kestrel::Engine> engine =
        kestrel::Engine::create(kestrel::Resources::engineDirectory()).value();
};

void EngineCheck(benchmark::State& state) {
    Fixture f;
    auto text = draftOfWords(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(f.engine->check(text, "email"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(EngineCheck)->Arg(50)->Arg(300)->Arg(3000)->Arg(30000)->Unit(benchmark::kMicrosecond);

void EngineChannelInfo(benchmark::State& state) {
    Fixture f;
    for (auto _ : state) benchmark::DoNotOptimize(f.engine->channelInfo("chat"));
}
BENCHMARK(EngineChannelInfo)->Unit(benchmark::kMicrosecond);

}  // namespace
