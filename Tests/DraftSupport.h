// Fixtures for the draft-watching units: the fake apps, a substitute engine whose rules are easy to trigger and that counts its checks, and a recorder
// of tracked analytics events.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Kestrel/API.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/Draft.h"
#include "FakeAppsSupport.h"

namespace testing_support {

// "sk-" is a risk, "attached" and "later" are warnings, "HANG" runs past the time limit; the text
// "COUNT" answers, as its title, how many checks ran before it. Email gets live AI checks, chat send-time ones.
inline constexpr const char* kDraftRules = R"JS(
var checks = 0;
var KestrelRules = { runRules: function (msg) {
  if (msg.body === 'COUNT') return [{ id: 'count', level: 'info', title: String(checks) }];
  checks++;
  var out = [];
  if (msg.body.indexOf('sk-') >= 0) out.push({ id: 'secret', level: 'risk', title: 'Key', original: 'sk-' });
  if (msg.body.indexOf('attached') >= 0) out.push({ id: 'attach', level: 'warn', title: 'Attach' });
  if (msg.body.indexOf('HANG') >= 0) { while (true) {} }
  if (msg.body.indexOf('later') >= 0) out.push({ id: 'later', level: 'warn', title: 'Later', original: 'later' });
  return out;
} };
)JS";
inline constexpr const char* kDraftSlop = R"JS(
var KestrelSlop = { lint: function (text) { return { level: 'human', tells: 0, cats: [], findings: [] }; } };
)JS";
inline constexpr const char* kDraftPolicy = R"JS(
var KestrelPolicy = {
  apply: function (channel, findings) { return findings; },
  tooShort: function (channel, text, scoped) { return text.length < 3; },
  aiMode: function (channel) { return channel === 'email' ? 'live' : 'send'; },
  gates: function (channel) { return true; },
  label: function (channel) { return channel; }
};
)JS";

struct TrackedEvent {
    std::string name;
    nlohmann::json properties;
};

class DraftTest : public FakeAppsTest {
protected:
    DraftTest() {
        scripts.write("rules.js", kDraftRules);
        scripts.write("slop.js", kDraftSlop);
        scripts.write("policy.js", kDraftPolicy);
        engine = *kestrel::Engine::create(scripts.path());
        kestrel::KestrelAPI::resetShared();
        api = kestrel::KestrelAPI::shared();
        state = std::make_shared<kestrel::DraftState>();
        watcher = std::make_shared<kestrel::FocusWatcher>(state, engine, api);
    }
    ~DraftTest() override { kestrel::KestrelAPI::resetShared(); }

    // Checks the engine ran since it was made.
    int engineChecks() { return std::stoi(engine->check("COUNT", "email").findings.at(0).title); }
    std::vector<std::string> trackedNames() const {
        std::vector<std::string> names;
        for (const auto& event : tracked) names.push_back(event.name);
        return names;
    }

    ScratchDirectory scripts;
    std::shared_ptr<kestrel::Engine> engine;
    std::shared_ptr<kestrel::KestrelAPI> api;
    std::shared_ptr<kestrel::DraftState> state;
    std::shared_ptr<kestrel::FocusWatcher> watcher;
    std::vector<TrackedEvent> tracked;
    desktop::Subscription tracking = kestrel::Analytics::observeTracks(
        [this](const std::string& name, const nlohmann::json& kept) { tracked.push_back({name, kept}); });
};

inline std::vector<std::string> ids(const std::vector<kestrel::Finding>& findings) {
    std::vector<std::string> out;
    for (const auto& finding : findings) out.push_back(finding.id);
    return out;
}

}  // namespace testing_support
