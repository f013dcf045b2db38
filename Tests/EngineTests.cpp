#include "Kestrel/Engine.h"

#include <gmock/gmock.h>

#include "Kestrel/App.h"
#include "TestSupport.h"

using namespace kestrel;
using testing::HasSubstr;
using testing_support::ScratchDirectory;

namespace {

Finding finding(std::string id, std::optional<std::string> original = std::nullopt,
                std::string title = "t") {
    return Finding{std::move(id), "warn", std::move(title), std::nullopt, std::move(original),
                   std::nullopt, std::nullopt};
}

std::vector<std::string> keys(const std::vector<Finding>& findings) {
    std::vector<std::string> out;
    for (const auto& f : findings) out.push_back(f.id + "=" + f.original.value_or("-") + "/" + f.title);
    return out;
}

}  // namespace

TEST(RecordTests, DecodeStrictly) {
    enum Record { local, channel, score };
    struct Case {
        Record record;
        std::string json;
        bool decodes;
    };
    const Case cases[] = {
        {local, R"({"findings":[],"tooShort":false})", true},
        {local, R"({"findings":[],"tooShort":false,"slop":null,"extra":[1,2]})", true},
        {local, R"({"findings":[]})", false},
        {local, R"({"findings":[],"tooShort":"false"})", false},
        {local, R"({"findings":[{"id":"a","level":"warn"}],"tooShort":false})", false},
        {local, R"({"findings":[{"id":"a","level":"warn","title":"T","occurrence":2.5}],"tooShort":true})", false},
        {local, R"({"findings":[{"id":"a","level":"warn","title":"T","occurrence":2.0}],"tooShort":true})", true},
        {local, R"({"findings":[{"id":"a","level":"warn","title":"T","detail":null}],"tooShort":true})", true},
        {local, R"({"findings":[],"tooShort":true,"slop":{"level":"slop","tells":3}})", false},
        {local, R"({"findings":{},"tooShort":true})", false},
        {local, R"([])", false},
        {local, R"(not json)", false},
        {channel, R"({"ai":"live","gate":"true","label":"x"})", false},
        {score, R"({"findings":[{"id":"x"}]})", false},
        {score, R"({"voiceScore":"80"})", false},
        {score, R"({"voiceScore":99999999999999999999})", false},
        {score, "{\"findings\":\"\xff\xfe\"}", false},
        {score, std::string(100000, '['), false},
    };
    for (const auto& c : cases) {
        bool decoded = c.record == local     ? desktop::json::decodeText<LocalResult>(c.json).has_value()
                       : c.record == channel ? desktop::json::decodeText<ChannelInfo>(c.json).has_value()
                                             : desktop::json::decodeText<ScoreResult>(c.json).has_value();
        EXPECT_EQ(decoded, c.decodes) << c.json.substr(0, 80);
    }
}

// Null and missing optionals are absent and left out on encode; unknown members are ignored.
TEST(RecordTests, OptionalsRoundTrip) {
    auto result = desktop::json::decodeText<LocalResult>(
        R"({"findings":[{"id":"attach","level":"warn","title":"T","original":null}],"slop":null,"tooShort":false})");
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->slop.has_value());
    EXPECT_FALSE(result->findings[0].original.has_value());
    auto encoded = result->encode();
    EXPECT_FALSE(encoded.contains("slop"));
    EXPECT_EQ(encoded["findings"][0].dump(), R"({"id":"attach","level":"warn","title":"T"})");
    EXPECT_EQ(LocalResult::decode(encoded), result);
    EXPECT_EQ(desktop::json::decodeText<ScoreResult>("{}")->encode().dump(), "{}");
    auto full = desktop::json::decodeText<ScoreResult>(
        R"({"voiceScore":80,"slopScore":null,"findings":[],"aiLimited":true,"unknown":{}})");
    ASSERT_TRUE(full);
    EXPECT_EQ(*full, (ScoreResult{80, std::nullopt, std::vector<Finding>{}, true}));
}

TEST(RecordTests, FindingKeyIsIdOriginalAndOccurrence) {
    auto a = finding("attach", "deck");
    EXPECT_EQ(a.key(), "attach:deck:0");
    a.occurrence = 2;
    a.suggestion = "deck.pdf";
    EXPECT_EQ(a.key(), "attach:deck:2");
    EXPECT_EQ(finding("attach").key(), "attach::0");
}

TEST(MergeTests, OneFindingPerRuleAndSpansWin) {
    auto s1 = finding("secret", "x"), l1 = finding("link"), l2 = finding("link", "y"),
         s2 = finding("secret", "z"), a1 = finding("attach"), a2 = finding("attach", "deck"),
         n1 = finding("signoff", std::nullopt, "one"), n2 = finding("signoff", std::nullopt, "two"),
         v = finding("voice");
    struct Case {
        std::vector<Finding> first, second;
        std::vector<Finding> expected;
    };
    const Case cases[] = {
        {{}, {}, {}},
        {{a1}, {a2}, {a2}},
        {{s1, l1}, {l2, s2}, {s1, l2}},
        {{s1, s2}, {}, {s1}},
        {{n1, n2}, {}, {n1}},
        {{s1}, {v, l1}, {s1, v, l1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keys(mergeFindings(c.first, c.second)), keys(c.expected));
    }
}

namespace {

constexpr const char* kRules = R"JS(
var KestrelRules = { runRules: function (msg) {
  var out = [];
  if (msg.body.indexOf('sk-') >= 0) out.push({ id: 'secret', level: 'risk', title: 'Key', original: 'sk-' });
  if (msg.body.indexOf('attached') >= 0) out.push({ id: 'attach', level: 'warn', title: 'Attach' });
  if (msg.body.indexOf('ECHO') === 0) out.push({ id: 'echo', level: 'info', title: String(msg.body.length), original: msg.body });
  if (msg.body === 'LOOP') { while (true) {} }
  if (msg.body === 'REGEX') { /(a+)+b/.test('aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac'); }
  if (msg.body === 'BAD') return [{ id: 'x', level: 'warn' }];
  return out;
} };
)JS";
constexpr const char* kSlop = R"JS(
var KestrelSlop = { lint: function (text) {
  var r = { level: 'human', tells: 0, cats: [] };
  if (text === 'SLOPFIND') r.findings = [{ id: 'slop', level: 'warn', title: 'S' }];
  return r;
} };
)JS";
constexpr const char* kPolicy = R"JS(
var KestrelPolicy = {
  apply: function (channel, findings) {
    return channel === 'chat' ? findings.filter(function (f) { return f.id !== 'attach'; }) : findings;
  },
  tooShort: function (channel, text, scoped) { return text.length < 3; },
  aiMode: function (channel) { return channel === 'chat' ? 'send' : 'live'; },
  gates: function (channel) { if (channel === 'boom') throw new Error('gates broke'); return channel !== 'none'; },
  label: function (channel) { return channel === 'chat' ? 'Chat' : 'Email'; }
};
)JS";

class EngineHostTests : public testing_support::SimDesktopTest {
protected:
    ScratchDirectory dir;

    void writeScripts(std::string rules = kRules, std::string slop = kSlop,
                      std::string policy = kPolicy) {
        dir.write("rules.js", rules);
        dir.write("slop.js", slop);
        dir.write("policy.js", policy);
    }
    std::shared_ptr<Engine> engine() {
        auto made = Engine::create(dir.path());
        EXPECT_TRUE(made.has_value()) << made.error().text();
        return made ? *made : nullptr;
    }
};

}  // namespace

TEST_F(EngineHostTests, CreationFailuresNameTheirCause) {
    const auto policy = (dir.path() / "policy.js").string(), slop = (dir.path() / "slop.js").string();
    const auto absent = (dir.path() / "absent" / "rules.js").string();
    const std::string readOnlyGlue =
        "Object.defineProperty(globalThis, 'kestrelCheck', { value: 1, writable: false });";
    struct Row { std::optional<std::string> slop, policy; std::filesystem::path dir; std::string error; };
    const Row rows[] = {
        {kSlop, std::nullopt, dir.path(), "missingScript(\"" + policy + "\")"},
        {"var x = '\xff\xfe';", kPolicy, dir.path(), "missingScript(\"" + slop + "\")"},
        {kSlop, kPolicy, dir.path() / "absent", "missingScript(\"" + absent + "\")"},
        {kSlop, std::string(kPolicy) + readOnlyGlue, dir.path(), "glueFailed"},
    };
    for (const auto& row : rows) {
        std::filesystem::remove(dir.path() / "policy.js");
        dir.write("rules.js", kRules);
        if (row.slop) dir.write("slop.js", *row.slop);
        if (row.policy) dir.write("policy.js", *row.policy);
        auto made = Engine::create(row.dir);
        ASSERT_FALSE(made) << row.error;
        EXPECT_EQ(made.error().text(), row.error);
    }
}

TEST_F(EngineHostTests, ChecksThroughTheGlueAndScopesByChannel) {
    writeScripts();
    auto e = engine();
    auto email = e->check("use sk- and see attached", "email");
    EXPECT_EQ(keys(email.findings), (std::vector<std::string>{"secret=sk-/Key", "attach=-/Attach"}));
    EXPECT_EQ(email.slop, (SlopSummary{"human", 0, {}}));
    EXPECT_FALSE(email.tooShort);
    EXPECT_EQ(e->check("use sk- and see attached", "chat").findings.size(), 1u);
    EXPECT_EQ(e->check("SLOPFIND", "email").findings[0].id, "slop");
    auto empty = e->check("", "email");
    EXPECT_TRUE(empty.findings.empty());
    EXPECT_TRUE(empty.tooShort);
    EXPECT_EQ(e->channelInfo("chat"), (ChannelInfo{"send", true, "Chat"}));
    EXPECT_TRUE(logLines().empty());
}

TEST_F(EngineHostTests, TextReachesTheScriptsUnchanged) {
    writeScripts();
    auto e = engine();
    const std::string texts[] = {
        std::string("ECHO with a NUL \0 inside", 24),
        "ECHO 😀🎉 עברית 中文 e\xcc\x81",
        "ECHO " + std::string(1 << 20, 'x'),
    };
    for (const auto& text : texts) {
        auto result = e->check(text, "email");
        ASSERT_EQ(result.findings.size(), 1u);
        EXPECT_EQ(result.findings[0].original, text);
    }
    // Bytes that are not UTF-8 (a lone surrogate's encoding) arrive as replacement characters.
    auto lone = e->check("ECHO \xed\xa0\x80!", "email");
    ASSERT_EQ(lone.findings.size(), 1u);
    EXPECT_EQ(lone.findings[0].original, "ECHO \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd!");
}

TEST_F(EngineHostTests, FailingScriptsFallBackAndOnlyExceptionsAreLogged) {
    writeScripts("throw new Error('rules broke'); var KestrelRules = {};");
    auto broken = engine();
    ASSERT_EQ(logLines().size(), 1u);
    EXPECT_THAT(logLines()[0], HasSubstr("Kestrel engine: Error: rules broke"));
    EXPECT_EQ(broken->check("hello there", "email"), LocalResult::empty);
    EXPECT_EQ(logLines().size(), 2u);
    EXPECT_EQ(broken->channelInfo("chat").ai, "send");

    // An answer the host cannot read falls back silently; a policy that throws is logged and the
    // channel gets the default policy.
    writeScripts(kRules, kSlop,
                 std::string(kPolicy) + "KestrelPolicy.label = function () { return undefined; };");
    auto e = engine();
    EXPECT_EQ(e->check("BAD", "email"), LocalResult::empty);
    EXPECT_EQ(e->channelInfo("chat"), (ChannelInfo{"live", true, "chat"}));
    EXPECT_EQ(logLines().size(), 2u);
    EXPECT_EQ(e->channelInfo("boom"), (ChannelInfo{"live", true, "boom"}));
    EXPECT_THAT(logLines().back(), HasSubstr("gates broke"));
}

TEST_F(EngineHostTests, RunawayChecksAreStoppedAndAnswerTheUncheckedRisk) {
    writeScripts();
    auto e = engine();
    for (const char* text : {"LOOP", "REGEX"}) {
        EXPECT_EQ(e->check(text, "email"), Engine::unchecked()) << text;
        EXPECT_EQ(e->check("sk-", "email").findings.size(), 1u) << "after " << text;
    }
    ASSERT_EQ(logLines().size(), 2u);
    EXPECT_THAT(logLines()[0], HasSubstr("Kestrel engine: JavaScript execution terminated"));
    // Failures other than the time limit keep the empty fallback.
    EXPECT_EQ(e->check("BAD", "email"), LocalResult::empty);

    writeScripts("while (true) {}");
    auto looping = engine();
    ASSERT_TRUE(looping);
    EXPECT_THAT(logLines().back(), HasSubstr("terminated"));
    EXPECT_EQ(looping->check("x", "email"), LocalResult::empty);
}

namespace {

constexpr const char* kSelfTestRules = R"JS(
var KestrelRules = { runRules: function (msg) {
  return [{ id: 'secret', level: 'LEVEL', title: 'Key' }, { id: 'attach', level: 'warn', title: 'Attach' }];
} };
)JS";

class SelfTestTests : public testing_support::SimDesktopTest {
protected:
    ScratchDirectory resources;
    std::string output;

    // Serves substitute scripts through the bundle's resource directory; the rules give the
    // secret this level.
    int run(const char* level, std::string policy = kPolicy) {
        std::string rules = kSelfTestRules;
        resources.write("engine/rules.js", rules.replace(rules.find("LEVEL"), 5, level));
        resources.write("engine/slop.js", kSlop);
        resources.write("engine/policy.js", policy);
        sim.simBundle().setResourceDirectory(resources.path());
        std::ostringstream out;
        int status = selfTest(out);
        output = out.str();
        return status;
    }
};

}  // namespace

TEST_F(SelfTestTests, PrintsTheReportThenTheVerdict) {
    const std::string report =
        "email: secret, attach\n"
        "chat:  secret\n"
        "slop:  human gate(email): true ai(chat): send\n";
    EXPECT_EQ(run("risk"), 0);
    EXPECT_EQ(output, report + "SELFTEST OK\n");
    EXPECT_EQ(run("warn"), 1);
    EXPECT_EQ(output, report + "SELFTEST FAILED: unexpected findings\n");
    EXPECT_EQ(run("risk", std::string(kPolicy) + "KestrelPolicy.apply = function (c, f) { return f; };"), 1);
    EXPECT_THAT(output, HasSubstr("chat:  secret, attach\n"));
    EXPECT_THAT(output, HasSubstr("SELFTEST FAILED: unexpected findings\n"));
    // A script it cannot load is one line.
    const auto slop = resources.path() / "engine" / "slop.js";
    std::filesystem::remove(slop);
    std::ostringstream out;
    EXPECT_EQ(selfTest(out), 1);
    EXPECT_EQ(out.str(), "SELFTEST FAILED: missingScript(\"" + slop.string() + "\")\n");
}

TEST_F(SelfTestTests, OnlyTheExactSwitchRunsIt) {
    std::vector<std::optional<std::filesystem::path>> runs;
    auto run = [&runs](const std::optional<std::filesystem::path>& state) {
        runs.push_back(state);
        return 7;
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(AppDelegate::main({"kestrel", "--selftest=1"}, run), 2);
    EXPECT_EQ(AppDelegate::main({"kestrel", "-selftest"}, run), 2);
    EXPECT_EQ(AppDelegate::main({"kestrel", "--state"}, run), 2);
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("usage: kestrel"));
    EXPECT_TRUE(runs.empty());
    testing::internal::CaptureStdout();
    EXPECT_EQ(AppDelegate::main({"kestrel", "extra", "--selftest"}, run), 0);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("SELFTEST OK"));
    EXPECT_TRUE(runs.empty());

    EXPECT_EQ(AppDelegate::main({"kestrel"}, run), 7);
    EXPECT_EQ(AppDelegate::main({"kestrel", "--state", "/tmp/k"}, run), 7);
    EXPECT_EQ(runs, (std::vector<std::optional<std::filesystem::path>>{std::nullopt, "/tmp/k"}));
}
