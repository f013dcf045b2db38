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

TEST(RecordTests, NullAndMissingOptionalsAreAbsentAndLeftOutOnEncode) {
    auto result = desktop::json::decodeText<LocalResult>(
        R"({"findings":[{"id":"attach","level":"warn","title":"T","original":null}],"slop":null,"tooShort":false})");
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->slop.has_value());
    EXPECT_FALSE(result->findings[0].original.has_value());
    auto encoded = result->encode();
    EXPECT_FALSE(encoded.contains("slop"));
    EXPECT_EQ(encoded["findings"][0].dump(), R"({"id":"attach","level":"warn","title":"T"})");
    EXPECT_EQ(LocalResult::decode(encoded), result);
}

TEST(RecordTests, FindingKeysAndEquality) {
    auto a = finding("attach", "deck");
    EXPECT_EQ(a.key(), "attach:deck:0");
    a.occurrence = 2;
    EXPECT_EQ(a.key(), "attach:deck:2");
    EXPECT_EQ(finding("attach").key(), "attach::0");
    // The suggestion tells two findings apart but not their place in the draft.
    auto b = a;
    b.suggestion = "deck.pdf";
    EXPECT_NE(a, b);
    EXPECT_EQ(a.key(), b.key());
}

TEST(RecordTests, ChannelInfoAndScoreResultDecode) {
    EXPECT_EQ(desktop::json::decodeText<ChannelInfo>(R"({"ai":"send","gate":false,"label":"Chat"})"),
              (ChannelInfo{"send", false, "Chat"}));
    auto empty = desktop::json::decodeText<ScoreResult>("{}");
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, ScoreResult{});
    EXPECT_EQ(empty->encode().dump(), "{}");
    auto full = desktop::json::decodeText<ScoreResult>(
        R"({"voiceScore":80,"slopScore":null,"findings":[],"aiLimited":true,"unknown":{}})");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->voiceScore, 80);
    EXPECT_FALSE(full->slopScore);
    EXPECT_EQ(full->aiLimited, true);
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
  return { level: 'human', tells: 0, cats: [], findings: text === 'SLOPFIND' ? [{ id: 'slop', level: 'warn', title: 'S' }] : [] };
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

TEST_F(EngineHostTests, GlueIsTheExactText) {
    EXPECT_EQ(Engine::glue().size(), 670u);
    EXPECT_TRUE(Engine::glue().starts_with("globalThis.kestrelCheck = function (text, channel) {\n"));
    EXPECT_TRUE(Engine::glue().ends_with("label: P.label(channel) });\n};"));
}

TEST_F(EngineHostTests, MissingOrUnreadableScriptsNameTheFile) {
    dir.write("rules.js", kRules);
    dir.write("slop.js", kSlop);
    auto missingPolicy = Engine::create(dir.path());
    ASSERT_FALSE(missingPolicy);
    EXPECT_EQ(missingPolicy.error().text(), "missingScript(\"" + (dir.path() / "policy.js").string() + "\")");

    dir.write("policy.js", kPolicy);
    dir.write("slop.js", "var x = '\xff\xfe';");
    auto notUtf8 = Engine::create(dir.path());
    ASSERT_FALSE(notUtf8);
    EXPECT_EQ(notUtf8.error().path, (dir.path() / "slop.js").string());

    auto noDirectory = Engine::create(dir.path() / "absent");
    ASSERT_FALSE(noDirectory);
    EXPECT_EQ(noDirectory.error().kind, EngineError::Kind::missingScript);
    EXPECT_EQ(noDirectory.error().path, (dir.path() / "absent" / "rules.js").string());
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

TEST_F(EngineHostTests, ThrowingRulesLoadButEveryCheckFallsBack) {
    writeScripts("throw new Error('rules broke'); var KestrelRules = {};");
    auto e = engine();
    ASSERT_EQ(logLines().size(), 1u);
    EXPECT_THAT(logLines()[0], HasSubstr("Kestrel engine: Error: rules broke"));
    EXPECT_EQ(e->check("hello there", "email"), LocalResult::empty);
    EXPECT_EQ(e->check("hello there", "email"), LocalResult::empty);
    EXPECT_EQ(logLines().size(), 3u);
    EXPECT_EQ(e->channelInfo("chat").ai, "send");
}

TEST_F(EngineHostTests, LintWithoutFindingsPassesOnlyRuleFindings) {
    writeScripts(kRules, "var KestrelSlop = { lint: function () { return { level: 'traces', tells: 1, cats: ['x'] }; } };");
    auto result = engine()->check("sk- here", "email");
    EXPECT_EQ(keys(result.findings), (std::vector<std::string>{"secret=sk-/Key"}));
    EXPECT_EQ(result.slop->level, "traces");
}

// An answer the host cannot read falls back silently; a policy that throws is logged and the
// channel gets the default policy.
TEST_F(EngineHostTests, UnreadableOrThrowingAnswersFallBack) {
    writeScripts(kRules, kSlop,
                 std::string(kPolicy) + "KestrelPolicy.label = function () { return undefined; };");
    auto e = engine();
    EXPECT_EQ(e->check("BAD", "email"), LocalResult::empty);
    EXPECT_EQ(e->channelInfo("chat"), (ChannelInfo{"live", true, "chat"}));
    EXPECT_TRUE(logLines().empty());
    EXPECT_EQ(e->channelInfo("boom"), (ChannelInfo{"live", true, "boom"}));
    ASSERT_EQ(logLines().size(), 1u);
    EXPECT_THAT(logLines()[0], HasSubstr("gates broke"));
}

TEST_F(EngineHostTests, RunawayChecksAreStoppedAndAnswerTheUncheckedRisk) {
    writeScripts();
    auto e = engine();
    for (const char* text : {"LOOP", "REGEX"}) {
        auto cutOff = e->check(text, "email");
        ASSERT_EQ(cutOff.findings.size(), 1u) << text;
        const auto& unchecked = cutOff.findings[0];
        EXPECT_EQ(unchecked.id, "unchecked");
        EXPECT_EQ(unchecked.level, "risk");
        EXPECT_EQ(unchecked.title, "Not fully checked");
        EXPECT_THAT(unchecked.detail.value_or(""), HasSubstr("too long to check completely"));
        EXPECT_FALSE(unchecked.original);
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

TEST_F(EngineHostTests, GlueThatCannotInstallFails) {
    writeScripts(std::string(kRules) +
                 "Object.defineProperty(globalThis, 'kestrelCheck', { value: 1, writable: false });");
    auto made = Engine::create(dir.path());
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error().text(), "glueFailed");
}

namespace {

class SelfTestTests : public testing_support::SimDesktopTest {
protected:
    ScratchDirectory resources;
    std::string output;

    // Serves substitute scripts through the bundle's resource directory.
    int run(std::string rules, std::string policy = kPolicy) {
        resources.write("engine/rules.js", rules);
        resources.write("engine/slop.js", kSlop);
        resources.write("engine/policy.js", policy);
        sim.simBundle().setResourceDirectory(resources.path());
        std::ostringstream out;
        int status = selfTest(out);
        output = out.str();
        return status;
    }
};

constexpr const char* kSelfTestRules = R"JS(
var KestrelRules = { runRules: function (msg) {
  return [{ id: 'secret', level: 'LEVEL', title: 'Key' }, { id: 'attach', level: 'warn', title: 'Attach' }];
} };
)JS";

std::string withLevel(const char* level) {
    std::string rules = kSelfTestRules;
    rules.replace(rules.find("LEVEL"), 5, level);
    return rules;
}

}  // namespace

TEST_F(SelfTestTests, PassesWithTheShippedScripts) {
    std::ostringstream out;
    EXPECT_EQ(selfTest(out), 0) << out.str();
    EXPECT_THAT(out.str(), HasSubstr("\nSELFTEST OK\n"));
    EXPECT_TRUE(out.str().starts_with("email: "));
}

TEST_F(SelfTestTests, PrintsTheReportThenTheVerdict) {
    const std::string report =
        "email: secret, attach\n"
        "chat:  secret\n"
        "slop:  human gate(email): true ai(chat): send\n";
    EXPECT_EQ(run(withLevel("risk")), 0);
    EXPECT_EQ(output, report + "SELFTEST OK\n");
    EXPECT_EQ(run(withLevel("warn")), 1);
    EXPECT_EQ(output, report + "SELFTEST FAILED: unexpected findings\n");
    EXPECT_EQ(run(withLevel("risk"), std::string(kPolicy) + "KestrelPolicy.apply = function (c, f) { return f; };"), 1);
    EXPECT_THAT(output, HasSubstr("chat:  secret, attach\n"));
    EXPECT_THAT(output, HasSubstr("SELFTEST FAILED: unexpected findings\n"));
}

TEST_F(SelfTestTests, MissingScriptIsOneLine) {
    resources.write("engine/rules.js", kRules);
    resources.write("engine/policy.js", kPolicy);
    sim.simBundle().setResourceDirectory(resources.path());
    std::ostringstream out;
    EXPECT_EQ(selfTest(out), 1);
    EXPECT_EQ(out.str(), "SELFTEST FAILED: missingScript(\"" +
                             (resources.path() / "engine" / "slop.js").string() + "\")\n");
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
