#include <gmock/gmock.h>

#include "DraftSupport.h"
#include "DevServer/DevServer.h"
#include "Kestrel/SendGate.h"

using namespace kestrel;
using testing::ElementsAre;

namespace {

constexpr const char* kScoreAnswer =
    R"({"voiceScore":80,"findings":[{"id":"voice","level":"risk","title":"Off-voice"},)"
    R"({"id":"slop","level":"warn","title":"AI"}],"aiLimited":true})";
constexpr const char* kScorePath = kestrel::devserver::DevServer::kScore;
constexpr const char* kEightWords = "one two three four five six seven eight";

class AIRunnerTests : public testing_support::DraftTest {
protected:
    AIRunnerTests() {
        EXPECT_TRUE(server.start());
        server.reply(kScorePath, 200, kScoreAnswer);
        sim.simDefaults().set("backendUrl", server.url());
    }
    void signIn() {
        User user;
        user.userId = "u1";
        user.email = "sam@example.com";
        api->store(SessionResponse{"token-1", user}, "dev");
    }
    std::vector<nlohmann::json> scoreBodies() {
        std::vector<nlohmann::json> bodies;
        for (const auto& request : server.requests(kScorePath))
            bodies.push_back(nlohmann::json::parse(request.body));
        return bodies;
    }
    std::vector<testing_support::TrackedEvent> aiChecks() const {
        std::vector<testing_support::TrackedEvent> found;
        for (const auto& event : tracked)
            if (event.name == "AI Check Ran") found.push_back(event);
        return found;
    }

    kestrel::devserver::DevServer server;
};

}  // namespace

TEST_F(AIRunnerTests, EightWordsScheduleALiveCheckAfterTheLastKeystroke) {
    signIn();
    focus("mail", "one two three four five six seven");
    watcher->refresh();
    EXPECT_FALSE(state->aiPending());
    sim.simApps().setText(kEightWords);
    watcher->refresh();
    EXPECT_TRUE(state->aiPending());
    sim.advance(1.0);
    sim.simApps().setText(std::string(kEightWords) + " nine");
    watcher->refresh();  // every change restarts the wait
    sim.advance(1.49);
    sim.settle();
    EXPECT_TRUE(scoreBodies().empty());
    sim.advance(0.01);
    sim.settle();
    auto bodies = scoreBodies();
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies[0]["body"], std::string(kEightWords) + " nine");
    EXPECT_EQ(bodies[0]["depth"], "live");
    EXPECT_EQ(bodies[0]["platform"], "mail");
    EXPECT_FALSE(state->aiPending());
    EXPECT_THAT(testing_support::ids(state->risks()), ElementsAre("voice"));
    ASSERT_EQ(aiChecks().size(), 1u);
    EXPECT_EQ(aiChecks()[0].properties,
              (nlohmann::json{{"platform", "mail"}, {"depth", "live"}, {"via", "backend"}, {"findings", 2},
                              {"risks", 1}, {"rules", {"voice", "slop"}}, {"ai_limited", true}}));
}

TEST_F(AIRunnerTests, SignedOutOrSendTimeChannelsNeverScheduleLiveChecks) {
    focus("mail", kEightWords);
    watcher->refresh();
    EXPECT_FALSE(state->aiPending());
    signIn();
    focus("slack", kEightWords);  // chat checks only at send time
    watcher->refresh();
    EXPECT_FALSE(state->aiPending());
    sim.advance(5);
    sim.settle();
    EXPECT_TRUE(scoreBodies().empty());
}

TEST_F(AIRunnerTests, NothingToCheckAnswersNoneAtOnce) {
    std::vector<std::optional<ScoreResult>> answers;
    auto collect = [&](std::optional<ScoreResult> result) { answers.push_back(std::move(result)); };
    watcher->runAI("live", collect);  // no app
    focus("mail", kEightWords);
    watcher->refresh();
    watcher->runAI("send", collect);  // signed out
    signIn();
    sim.simApps().setText("");
    watcher->refresh();
    watcher->runAI("send", collect);  // empty draft
    EXPECT_EQ(answers, (std::vector<std::optional<ScoreResult>>(3)));
    sim.settle();
    EXPECT_TRUE(scoreBodies().empty());
}

TEST_F(AIRunnerTests, ASecondLiveCheckOfTheSameTextReusesTheResult) {
    signIn();
    focus("mail", kEightWords);
    watcher->refresh();
    std::vector<std::optional<ScoreResult>> answers;
    for (int i = 0; i < 2; ++i) {
        watcher->runAI("live", [&](std::optional<ScoreResult> result) { answers.push_back(std::move(result)); });
        sim.settle();
    }
    EXPECT_EQ(scoreBodies().size(), 1u);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], answers[1]);
    EXPECT_TRUE(answers[1]);
    watcher->runAI("send");  // a send check always asks
    sim.settle();
    EXPECT_EQ(scoreBodies().size(), 2u);
}

TEST_F(AIRunnerTests, ALateResultIsNotStoredButTrackedAndHandedOver) {
    signIn();
    focus("mail", kEightWords);
    watcher->refresh();
    std::optional<ScoreResult> answer;
    watcher->runAI("live", [&](std::optional<ScoreResult> result) { answer = std::move(result); });
    sim.simApps().setText("an edit made while the check was still running");
    watcher->refresh();
    sim.settle();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->voiceScore, 80);
    EXPECT_FALSE(state->ai());
    EXPECT_TRUE(state->aiPending());  // as the newer text's scheduling left it
    EXPECT_EQ(aiChecks().size(), 1u);
}

TEST_F(AIRunnerTests, AFailedCheckClearsPendingWithoutTracking) {
    signIn();
    server.reply(kScorePath, 500, R"({"message":"busy"})");
    focus("mail", kEightWords);
    watcher->refresh();
    state->setAi(ScoreResult{});
    bool called = false;
    watcher->runAI("send", [&](std::optional<ScoreResult> result) {
        called = true;
        EXPECT_FALSE(result);
    });
    EXPECT_TRUE(state->aiPending());
    sim.settle();
    EXPECT_TRUE(called);
    EXPECT_FALSE(state->ai());
    EXPECT_FALSE(state->aiPending());
    EXPECT_TRUE(aiChecks().empty());
}

TEST_F(AIRunnerTests, APassingSendStartsASendCheckOnlyWhereThePolicySaysSend) {
    signIn();
    auto gate = std::make_shared<SendGate>(state, watcher, engine);
    ASSERT_TRUE(gate->start());
    focus("slack", "all clear for the release tonight");
    sim.simEvents().pressKey(36);
    focus("mail", "all clear for the release tonight");
    sim.simEvents().pressKey(2, desktop::keyflags::shift | desktop::keyflags::command);
    sim.settle();
    EXPECT_THAT(sent("slack"), ElementsAre("all clear for the release tonight"));
    auto bodies = scoreBodies();
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies[0]["depth"], "send");
    EXPECT_EQ(bodies[0]["platform"], "slack");
}
