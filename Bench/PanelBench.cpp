// The review panel rebuilds and re-measures its view after every change of the draft while it is
// open, and the pill's placement runs twice a second for as long as the app runs: both on the
// main thread, so each must stay far below a frame.
#include <benchmark/benchmark.h>

#include "DraftBenchSupport.h"
#include "Kestrel/Panel.h"
#include "Kestrel/Pill.h"
#include "Kestrel/SendGate.h"

namespace {

struct OpenPanel : bench::WatchedSlack {
    std::shared_ptr<kestrel::SendGate> gate = std::make_shared<kestrel::SendGate>(state, watcher, engine);
    std::shared_ptr<kestrel::PanelController> panel =
        kestrel::PanelController::create(state, gate, watcher, kestrel::KestrelAPI::shared());
    OpenPanel() { panel->showGate(); }
};

void PanelRebuildTypicalDraft(benchmark::State& state) {
    OpenPanel f;
    for (auto _ : state) {
        f.panel->host().invalidate();
        benchmark::DoNotOptimize(f.panel->host().fittingSize());
    }
    state.counters["findings"] = static_cast<double>(f.state->findings().size());
}
BENCHMARK(PanelRebuildTypicalDraft)->Unit(benchmark::kMicrosecond);

void PanelRebuildHundredFindings(benchmark::State& state) {
    OpenPanel f;
    kestrel::LocalResult local;
    for (int i = 0; i < 100; ++i) {
        kestrel::Finding finding;
        finding.id = "rule" + std::to_string(i);
        finding.level = i % 3 ? "warn" : "risk";
        finding.title = "A finding with a title of ordinary length";
        finding.detail = "And a detail line that wraps onto a second line in the panel's column.";
        local.findings.push_back(finding);
    }
    f.state->setLocal(local);
    for (auto _ : state) {
        f.panel->host().invalidate();
        benchmark::DoNotOptimize(f.panel->host().fittingSize());
    }
}
BENCHMARK(PanelRebuildHundredFindings)->Unit(benchmark::kMicrosecond);

void PillTickUnchanged(benchmark::State& state) {
    bench::WatchedSlack f;
    auto pill = std::make_shared<kestrel::PillController>(f.state, [] {});
    pill->tick();
    for (auto _ : state) pill->tick();
}
BENCHMARK(PillTickUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace
