// The Linux desktop's two hot paths, on the headless desktop (run under scripts/desktop-session):
// one poll of a changed 2 KB draft in the GTK 3 chat app (AT-SPI read + engine check), and the
// gate's decision on a held Return over a 300-word risky draft, from the key press arriving to the
// grab's release. Targets: the poll under 2 ms, the decision under 5 ms.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>

#include "../DraftBenchSupport.h"
#include "Desktop/Linux/LinuxDesktop.h"
#include "Kestrel/SendGate.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

extern char** environ;

namespace {

using desktop::x11::GLibRunLoop;

bool waitFor(const std::function<bool()>& done, double seconds = 10) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        GLibRunLoop::iterate(0.01);
    }
    return true;
}

// The chat app in front, watched by the real engine, state, watcher and gate.
struct ChatInFront {
    desktop::x11::LinuxDesktop desktop{{.network = desktop::x11::Network::loopbackOnly, .echoLog = false}};
    desktop::InstallGuard installed{desktop};
    std::shared_ptr<kestrel::Engine> engine = *kestrel::Engine::create(kestrel::Resources::engineDirectory());
    std::shared_ptr<kestrel::DraftState> state = std::make_shared<kestrel::DraftState>();
    std::shared_ptr<kestrel::FocusWatcher> watcher =
        std::make_shared<kestrel::FocusWatcher>(state, engine, kestrel::KestrelAPI::shared());
    std::shared_ptr<kestrel::SendGate> gate = std::make_shared<kestrel::SendGate>(state, watcher, engine);
    pid_t chat = 0;
    bool ready = false;

    ChatInFront() {
        desktop.accessibility().isTrustedWithPrompt();
        const char* argv[] = {KESTREL_TEST_CHAT, "--log", "/dev/null", nullptr};
        posix_spawn(&chat, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ);
        ready = waitFor([&] {
            auto front = desktop.workspace().frontmostApplication();
            if (!front || front->pid != chat) return false;
            watcher->refresh();
            return state->element().has_value();
        });
    }
    ~ChatInFront() {
        gate.reset();
        kill(chat, SIGTERM);
        waitpid(chat, nullptr, 0);
    }
    void setText(const std::string& text) {
        desktop.accessibility().setAttribute(*state->element(), "AXValue", text);
    }
};

void PollChangedDraftInGtk3(benchmark::State& state) {
    ChatInFront f;
    if (!f.ready) return state.SkipWithError("the chat app did not come up");
    const std::string drafts[] = {bench::riskyDraft(" Thanks!"), bench::riskyDraft(" Thanks!!")};
    size_t i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.setText(drafts[i++ % 2]);
        state.ResumeTiming();
        benchmark::DoNotOptimize(f.watcher->refresh());
    }
    if (f.state->text().size() < 2000) state.SkipWithError("the draft was not read");
    state.counters["bytes"] = static_cast<double>(f.state->text().size());
}
BENCHMARK(PollChangedDraftInGtk3)->Unit(benchmark::kMillisecond)->UseRealTime();

void DecideHeldReturnOnRiskyDraft(benchmark::State& state) {
    ChatInFront f;
    if (!f.ready || !f.gate->start()) return state.SkipWithError("the chat app or the gate did not come up");
    Display* keyboard = XOpenDisplay(nullptr);
    KeyCode returnKey = XKeysymToKeycode(keyboard, XK_Return);
    const std::string drafts[] = {bench::riskyDraft(" Thanks!"), bench::riskyDraft(" Thanks!!")};
    size_t i = 0;
    for (auto _ : state) {
        f.setText(drafts[i++ % 2]);  // changed since the last poll: the decision runs the check
        XTestFakeKeyEvent(keyboard, returnKey, True, CurrentTime);
        XTestFakeKeyEvent(keyboard, returnKey, False, CurrentTime);
        XFlush(keyboard);
        if (!waitFor([&] { return f.gate->pending().has_value(); }, 5)) {
            state.SkipWithError("the send was not held");
            break;
        }
        state.SetIterationTime(f.desktop.linuxEvents().lastDecisionSeconds());
        f.gate->setPending(std::nullopt);
        waitFor([] { return false; }, 0.02);  // the release reaches us
    }
    XCloseDisplay(keyboard);
}
BENCHMARK(DecideHeldReturnOnRiskyDraft)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);

}  // namespace
