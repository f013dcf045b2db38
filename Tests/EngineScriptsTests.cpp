// The engine scripts judged through the real Engine: the case file of drafts with the rules each
// must and must not produce, the spans Fix relies on, the channel policy, and adversarial inputs.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Desktop/Json.h"
#include "Kestrel/Engine.h"
#include "TestSupport.h"

namespace {

using kestrel::Engine;
using kestrel::Finding;
using kestrel::LocalResult;

struct DraftCase {
    std::string id;
    std::string channel;
    std::string text;
    std::vector<std::string> expect;
    std::vector<std::string> forbid;
};

std::vector<std::string> strings(const desktop::json::Json& array) {
    std::vector<std::string> out;
    if (array.is_array())
        for (const auto& v : array) out.push_back(v.get<std::string>());
    return out;
}

std::vector<DraftCase> loadCases() {
    std::vector<DraftCase> cases;
    std::ifstream in(std::string(KESTREL_TEST_FIXTURES) + "/engine_cases.jsonl");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        auto parsed = desktop::json::parse(line);
        if (!parsed) continue;  // counted below: a broken line shrinks the table
        const auto& j = *parsed;
        cases.push_back({j.at("id").get<std::string>(), j.at("channel").get<std::string>(),
                         j.at("text").get<std::string>(), strings(j.value("expect", desktop::json::Json::array())),
                         strings(j.value("forbid", desktop::json::Json::array()))});
    }
    return cases;
}

// The search Fix makes: non-overlapping occurrences from the start; nullopt past the last.
std::optional<size_t> nthOccurrence(const std::string& text, const std::string& original, int64_t n) {
    if (original.empty() || n < 0) return std::nullopt;
    size_t from = 0;
    for (int64_t i = 0;; ++i) {
        size_t at = text.find(original, from);
        if (at == std::string::npos) return std::nullopt;
        if (i == n) return at;
        from = at + original.size();
    }
}

bool hasId(const LocalResult& r, std::string_view id) {
    for (const auto& f : r.findings)
        if (f.id == id) return true;
    return false;
}

std::string describe(const LocalResult& r) {
    std::ostringstream out;
    for (const auto& f : r.findings)
        out << "\n  " << f.id << "/" << f.level << " " << f.title << " [" << f.original.value_or("") << "]";
    return out.str();
}

// Every finding must be one Fix can act on safely.
void expectSpansSound(const std::string& text, const LocalResult& result) {
    static const std::set<std::string> kLevels{"risk", "warn", "info"};
    for (const auto& f : result.findings) {
        EXPECT_TRUE(kLevels.count(f.level)) << f.id << " has level " << f.level;
        EXPECT_FALSE(f.title.empty()) << f.id;
        if (f.suggestion) {
            EXPECT_TRUE(f.original.has_value()) << f.id << " suggests without a span";
        }
        if (!f.original) continue;
        auto at = nthOccurrence(text, *f.original, f.occurrence.value_or(0));
        EXPECT_TRUE(at.has_value()) << f.id << ": \"" << *f.original << "\" #" << f.occurrence.value_or(0)
                                    << " is not in the draft";
        if (f.suggestion) {
            EXPECT_NE(*f.suggestion, *f.original) << f.id << " suggests no change";
        }
    }
}

class EngineScriptsTests : public testing_support::SimDesktopTest {
protected:
    std::shared_ptr<Engine> engine = Engine::create(KESTREL_SOURCE_ENGINE).value();
};

class EngineScriptsCaseTests : public EngineScriptsTests,
                               public ::testing::WithParamInterface<DraftCase> {};

TEST_P(EngineScriptsCaseTests, ReportsExpectedRulesOnlyWithSoundSpans) {
    const auto& c = GetParam();
    auto result = engine->check(c.text, c.channel);
    for (const auto& id : c.expect) EXPECT_TRUE(hasId(result, id)) << "missing " << id << describe(result);
    for (const auto& id : c.forbid) EXPECT_FALSE(hasId(result, id)) << "unwanted " << id << describe(result);
    expectSpansSound(c.text, result);
    EXPECT_TRUE(result.slop.has_value()) << "every check carries a slop summary";
}

INSTANTIATE_TEST_SUITE_P(Drafts, EngineScriptsCaseTests, ::testing::ValuesIn(loadCases()),
                         [](const ::testing::TestParamInfo<DraftCase>& info) { return info.param.id; });

TEST(EngineScriptsCaseFile, HoldsEnoughDraftsAndHardNegatives) {
    auto cases = loadCases();
    size_t negatives = 0, email = 0, chat = 0;
    std::set<std::string> ids;
    for (const auto& c : cases) {
        if (c.expect.empty() && !c.forbid.empty()) ++negatives;
        (c.channel == "email" ? email : chat) += 1;
        EXPECT_TRUE(ids.insert(c.id).second) << "duplicate id " << c.id;
    }
    EXPECT_GE(cases.size(), 150u);
    EXPECT_GE(negatives * 3, cases.size());
    EXPECT_GT(email, 30u);
    EXPECT_GT(chat, 30u);
}

TEST_F(EngineScriptsTests, SelfTestSentenceHoldsOnEmailAndDropsAttachmentOnChat) {
    const std::string sample =
        "Hi team, I hope this email finds you well. Please see the attached deck and use key "
        "sk-zyxwvutsrqponmlkjihgfedcba987654 to log in.";
    auto email = engine->check(sample, "email");
    auto chat = engine->check(sample, "chat");
    EXPECT_TRUE(hasId(email, "secret")) << describe(email);
    EXPECT_TRUE(hasId(email, "attach")) << describe(email);
    EXPECT_FALSE(hasId(chat, "attach")) << describe(chat);
    EXPECT_TRUE(hasId(chat, "secret")) << describe(chat);
    bool risk = false;
    for (const auto& f : email.findings) risk = risk || (f.id == "secret" && f.level == "risk");
    EXPECT_TRUE(risk);
    // A redacted key replaces the whole key.
    for (const auto& f : email.findings) {
        if (f.id != "secret") continue;
        EXPECT_EQ(f.original, "sk-zyxwvutsrqponmlkjihgfedcba987654");
        ASSERT_TRUE(f.suggestion.has_value());
        EXPECT_EQ(f.suggestion->find("zyxwvutsrq"), std::string::npos);
    }
}

TEST_F(EngineScriptsTests, ChannelTableGivesModesGatesAndLabels) {
    struct Row { const char* channel; const char* ai; bool gate; const char* label; };
    for (const Row& row : {Row{"email", "live", true, "Email"}, Row{"chat", "send", true, "Chat"},
                           Row{"sms", "off", false, "sms"}, Row{"", "off", false, ""}}) {
        auto info = engine->channelInfo(row.channel);
        EXPECT_EQ(info.ai, row.ai) << row.channel;
        EXPECT_EQ(info.gate, row.gate) << row.channel;
        EXPECT_EQ(info.label, row.label) << row.channel;
    }
}

TEST_F(EngineScriptsTests, PolicyDropsRemindersOnChatOnly) {
    const std::string draft =
        "Hi Sam,\n\nI've attached the contract. Here's the link:\n\nPlease review the payment schedule, the "
        "delivery terms and the warranty clause before our call, since legal wants answers on all three "
        "by Friday and I would rather not go back and forth on it again next week with the vendor";
    auto email = engine->check(draft, "email");
    auto chat = engine->check(draft, "chat");
    for (const char* id : {"attach", "link", "signoff"}) {
        EXPECT_TRUE(hasId(email, id)) << id << describe(email);
        EXPECT_FALSE(hasId(chat, id)) << id << describe(chat);
    }
}

TEST_F(EngineScriptsTests, OccurrencePointsAtTheRightCopy) {
    // The same number twice: each finding names its own copy.
    const std::string card = "4242 4242 4242 4242";
    const std::string draft = "first " + card + " then again " + card + " ok";
    auto result = engine->check(draft, "chat");
    std::vector<int64_t> seen;
    for (const auto& f : result.findings)
        if (f.id == "pii" && f.original == card) seen.push_back(f.occurrence.value_or(0));
    EXPECT_EQ(seen, (std::vector<int64_t>{0, 1})) << describe(result);
    for (const auto& f : result.findings) {
        if (f.id == "pii") {
            EXPECT_EQ(f.suggestion, "\u2022\u2022\u2022\u2022 \u2022\u2022\u2022\u2022 \u2022\u2022\u2022\u2022 4242");
        }
    }
}

TEST_F(EngineScriptsTests, TooShortOnlyWhenNothingRiskyIsFound) {
    EXPECT_TRUE(engine->check("", "email").tooShort);
    EXPECT_TRUE(engine->check("ok", "email").tooShort);
    EXPECT_FALSE(engine->check("sk-zyxwvutsrqponmlkjihgfedcba987654", "chat").tooShort);
    EXPECT_FALSE(engine->check("Thanks for the notes, I will send the update tomorrow.", "email").tooShort);
}

TEST_F(EngineScriptsTests, SlopVerdictScalesWithLength) {
    EXPECT_EQ(engine->check("lol ok let's delve into the logs after lunch", "chat").slop->level, "human");
    auto heavy = engine->check(
        "Great question! It's not just a bug — it's an opportunity to streamline our release process. "
        "Let's dive in and unlock the full potential of our pipeline.",
        "chat");
    EXPECT_EQ(heavy.slop->level, "slop");
    EXPECT_GE(heavy.slop->tells, 3);
    EXPECT_TRUE(hasId(heavy, "slop"));
    // A one-click word swap keeps the inflection.
    auto swap = engine->check(
        "We should utilize the new cache. Moreover, it's important to note that we must leverage our "
        "team's meticulous reviews — seamlessly — and the robust, scalable, and efficient plan.",
        "email");
    bool utilize = false;
    for (const auto& f : swap.findings)
        if (f.id == "slop" && f.original == "utilize") utilize = f.suggestion == "use";
    EXPECT_TRUE(utilize) << describe(swap);
}

// Inputs built to make a backtracking regex blow up. Each ends with a real key so that an answer
// cut short by the host's time limit (empty findings) fails the test instead of passing quietly.
TEST_F(EngineScriptsTests, SurvivesAdversarialInputsOf64KB) {
    constexpr size_t kSize = 64 * 1024;
    auto repeat = [&](const std::string& unit) {
        std::string s;
        while (s.size() + unit.size() <= kSize) s += unit;
        return s;
    };
    std::string b64;
    for (size_t i = 0; b64.size() < kSize; ++i) b64 += "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[(i * 7 + i / 64) % 64];
    const std::vector<std::pair<const char*, std::string>> inputs = {
        {"letters", std::string(kSize, 'a')},
        {"spaces", std::string(kSize, ' ')},
        {"digits", std::string(kSize, '4')},
        {"newlines", std::string(kSize, '\n')},
        {"base64", b64},
        {"sk prefixes", repeat("sk-")},
        {"github prefixes", repeat("ghp_")},
        {"jwt prefixes", repeat("eyJ")},
        {"jwt parts", repeat("eyJabc.")},
        {"pem headers", repeat("-----BEGIN ")},
        {"url schemes", repeat("a://")},
        {"url users", repeat("a:b@")},
        {"password labels", repeat("password: ")},
        {"prose passwords", repeat("the password is ")},
        {"auth headers", repeat("Authorization: ")},
        {"bearer", repeat("Bearer ")},
        {"card groups", repeat("4111 ")},
        {"separators", repeat("1-")},
        {"dot groups", repeat("12.")},
        {"iban-ish", repeat("DE89 ")},
        {"azure markers", repeat("8Q~")},
        {"telegram markers", repeat("123456789:AA")},
        {"discord dots", repeat(".abcdef.")},
        {"mailchimp", repeat("-us1")},
        {"placeholders", repeat("[Your ")},
        {"attachments", repeat("see the attached ")},
        {"links", repeat("here is the link ")},
        {"negative parallelism", repeat("it's not just ")},
        {"markdown", repeat("**")},
        {"em dashes", repeat("\u2014")},
        {"emoji lines", repeat("\xF0\x9F\x9A\x80 x\n")},
        {"quoted lines", repeat("> ")},
        {"triads", repeat("innovation, ")},
        {"key names", repeat("api_key")},
        {"ellipses", repeat("...")},
    };
    const std::string key = " sk-zyxwvutsrqponmlkjihgfedcba987654";
    for (const auto& [name, body] : inputs) {
        for (const char* channel : {"email", "chat"}) {
            auto start = std::chrono::steady_clock::now();
            auto result = engine->check(body + key, channel);
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_LT(seconds, 3.0) << name << " on " << channel;
            EXPECT_TRUE(hasId(result, "secret")) << name << " on " << channel << ": answer was cut short";
            expectSpansSound(body + key, result);
        }
    }
}

}  // namespace
