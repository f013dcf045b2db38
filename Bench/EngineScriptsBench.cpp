// The engine scripts through the host: a typical e-mail, long prose and the inputs most likely
// to make a backtracking pattern slow. Budget: a typical e-mail well under 0.5 ms, nothing over
// 20 ms at 64 KB, and cost growing linearly with the text.
#include <benchmark/benchmark.h>

#include <string>

#include "Desktop/Sim/SimDesktop.h"
#include "Kestrel/Config.h"
#include "Kestrel/Engine.h"

namespace {

struct Host {
    desktop::sim::SimDesktop sim;
    desktop::InstallGuard installed{sim};
    std::shared_ptr<kestrel::Engine> engine =
        kestrel::Engine::create(kestrel::Resources::engineDirectory()).value();
};

Host& host() {
    static Host h;
    return h;
}

// About 2 KB: a reply with a greeting, numbers, a link, a quoted thread and a signature.
const std::string& typicalEmail() {
    static const std::string text =
        "Hi Dana,\n\nThanks for the quick turnaround on the quarterly numbers. I went through the draft "
        "and left a few notes in the shared folder; the revenue table still uses last month's exchange "
        "rate, so please refresh it before Friday. The invoice number is 2024-118-77 and the order ships "
        "from the Denver warehouse on 2025-06-30.\n\nI've attached the updated forecast. The hiring plan "
        "moved two roles into next year, which changes the headcount line, and the travel budget is about "
        "12% over what we agreed in March. Could you check whether the contractor invoices from April were "
        "booked twice? Finance flagged two entries of $4,250.00 with the same reference.\n\nThe dashboard "
        "is at https://reports.example.com/q3 if you want to compare.\n\nA few smaller things: the cover "
        "page still says Q2, the footnote on page 7 cites the old survey, and the appendix table is missing "
        "the Berlin office. None of that blocks the review, but it would be good to fix before the board "
        "pack goes out on the 14th.\n\nLet me know if you want to go through it on a call tomorrow; I am "
        "free after 2pm.\n\nBest,\nSam\n\nSam Ortiz | Finance Operations | +1 415 555 0134\n\n"
        "On Tue, Jun 3, 2025 at 9:14 AM Dana Lee wrote:\n> Hi Sam, the draft is in the folder.\n"
        "> Please see the attached deck and tell me what you think about the revenue split.\n> Dana\n";
    return text;
}

std::string prose(size_t bytes) {
    static const std::string paragraph =
        "The committee met on Thursday to review the proposal for the new community garden. Several "
        "residents raised concerns about parking, water access and the schedule for shared tools. After "
        "a long discussion the group agreed to survey the neighbourhood before the next meeting and to "
        "ask the city about a second water line. Maria will draft the survey and Tom will call the "
        "parks office on Monday; the minutes will go out by the end of the week.\n\n";
    std::string s;
    while (s.size() + paragraph.size() <= bytes) s += paragraph;
    return s;
}

std::string repeated(const std::string& unit, size_t bytes) {
    std::string s;
    while (s.size() + unit.size() <= bytes) s += unit;
    return s;
}

void Typical2KBEmail(benchmark::State& state) {
    auto& h = host();
    const auto& text = typicalEmail();
    for (auto _ : state) benchmark::DoNotOptimize(h.engine->check(text, "email"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(Typical2KBEmail)->Unit(benchmark::kMicrosecond);

// 8 KB to 64 KB: time per byte should stay flat.
void Prose(benchmark::State& state) {
    auto& h = host();
    auto text = prose(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(h.engine->check(text, "email"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(Prose)->RangeMultiplier(2)->Range(8 << 10, 64 << 10)->Unit(benchmark::kMillisecond)->Complexity();

// 64 KB inputs aimed at each rule's patterns; the slowest is the one that matters.
void Adversarial64KB(benchmark::State& state) {
    static const std::vector<std::pair<const char*, std::string>> inputs = {
        {"letters", std::string(64 << 10, 'a')},
        {"digit groups", repeated("4111 ", 64 << 10)},
        {"separators", repeated("1-", 64 << 10)},
        {"sk prefixes", repeated("sk-", 64 << 10)},
        {"jwt parts", repeated("eyJabc.", 64 << 10)},
        {"pem headers", repeated("-----BEGIN ", 64 << 10)},
        {"url users", repeated("a:b@", 64 << 10)},
        {"password labels", repeated("password: ", 64 << 10)},
        {"key names", repeated("api_key", 64 << 10)},
        {"attachments", repeated("see the attached ", 64 << 10)},
        {"not just", repeated("it's not just ", 64 << 10)},
        {"markdown", repeated("**", 64 << 10)},
        {"em dashes", repeated("\u2014", 64 << 10)},
        {"emoji lines", repeated("\xF0\x9F\x9A\x80 x\n", 64 << 10)},
        {"base64", repeated("QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo0NTY3", 64 << 10)},
    };
    auto& h = host();
    const auto& [name, text] = inputs[static_cast<size_t>(state.range(0))];
    state.SetLabel(name);
    for (auto _ : state) benchmark::DoNotOptimize(h.engine->check(text, "email"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(Adversarial64KB)->DenseRange(0, 14)->Unit(benchmark::kMillisecond);

}  // namespace
