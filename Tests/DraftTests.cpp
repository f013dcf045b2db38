#include <gmock/gmock.h>

#include "DraftSupport.h"
#include "Kestrel/AX.h"

using namespace kestrel;
using testing::ElementsAre;
using testing_support::ids;

namespace {

Finding finding(std::string id, std::string level, std::optional<std::string> original = std::nullopt) {
    return Finding{std::move(id), std::move(level), "t", std::nullopt, std::move(original),
                   std::nullopt, std::nullopt};
}

class DraftStateTests : public testing_support::SimDesktopTest {};

}  // namespace

TEST_F(DraftStateTests, FindingsMergeLocalAndAIAndDropSuppressedOnes) {
    DraftState state;
    state.setLocal(LocalResult{{finding("secret", "risk", "sk-"), finding("attach", "warn"),
                                finding("pii", "risk", "123")},
                               std::nullopt, false});
    state.setAi(ScoreResult{std::nullopt, std::nullopt,
                            std::vector{finding("attach", "warn", "deck"), finding("voice", "risk")},
                            std::nullopt});
    EXPECT_THAT(ids(state.findings()), ElementsAre("secret", "attach", "pii", "voice"));
    EXPECT_EQ(state.findings()[1].original, "deck");  // the merge's pick of the duplicates

    state.setIgnored({"secret:sk-:0"});
    state.setDisabledRules({"voice"});
    EXPECT_THAT(ids(state.findings()), ElementsAre("attach", "pii"));
    EXPECT_THAT(ids(state.risks()), ElementsAre("pii"));

    state.setAi(ScoreResult{});
    EXPECT_THAT(ids(state.findings()), ElementsAre("attach", "pii"));
}

TEST_F(DraftStateTests, IgnoringOneFindingOfARuleSurfacesTheRulesNextOne) {
    DraftState state;
    state.setLocal(LocalResult{{finding("secret", "risk", "sk-one"), finding("secret", "risk", "sk-two")},
                               std::nullopt, false});
    state.setAi(ScoreResult{std::nullopt, std::nullopt, std::vector{finding("voice", "warn", "x")},
                            std::nullopt});
    state.setIgnored({"secret:sk-one:0"});
    ASSERT_THAT(ids(state.risks()), ElementsAre("secret"));
    EXPECT_EQ(state.risks()[0].original, "sk-two");

    state.setIgnored({"secret:sk-one:0", "voice:x:0"});
    state.setAi(ScoreResult{std::nullopt, std::nullopt, std::vector{finding("voice", "warn", "x"),
                                                                    finding("voice", "warn", "y")},
                            std::nullopt});
    ASSERT_THAT(ids(state.findings()), ElementsAre("secret", "voice"));
    EXPECT_EQ(state.findings()[1].original, "y");
}

TEST_F(DraftStateTests, WordCountSplitsOnAnyUnicodeWhitespace) {
    const std::pair<std::string, size_t> cases[] = {
        {"  one\ttwo\n\nthree  ", 3},
        {"", 0},
        {" \n\t ", 0},
        {"a\u00A0b\u3000c\u2029d", 4},
        {"\xed\xa0\x80 lone", 2},
        {"emoji 😀 counts", 3},
    };
    for (const auto& [text, words] : cases) {
        DraftState state;
        state.setText(text);
        EXPECT_EQ(state.wordCount(), words) << text;
    }
}

TEST_F(DraftStateTests, DisabledRulesAreReadOnceAndOutliveAClear) {
    sim.simDefaults().set("disabledRules", std::vector<std::string>{"pii"});
    DraftState state;
    sim.simDefaults().set("disabledRules", std::vector<std::string>{"voice"});
    EXPECT_EQ(state.disabledRules(), std::set<std::string>{"pii"});  // read once, at construction
    state.setApp(SupportedApp::all()[0]);
    state.setText("hello");
    state.setPid(1);
    state.clear();
    EXPECT_FALSE(state.app());
    EXPECT_EQ(state.text(), "");
    EXPECT_FALSE(state.pid());
    EXPECT_EQ(state.disabledRules(), std::set<std::string>{"pii"});
}
namespace {
class FocusWatcherTests : public testing_support::DraftTest {
protected:
    int announcements = 0;
    desktop::Subscription counting = state->observe([this] { ++announcements; });
};
}  // namespace

TEST_F(FocusWatcherTests, UnchangedTextCostsNoEngineCallAndKeepsAIState) {
    focus("mail", "see attached");
    watcher->refresh();
    state->setAi(ScoreResult{});
    state->setIgnored({"attach::0"});
    watcher->start();
    announcements = 0;
    sim.advance(2.0);  // five ticks
    EXPECT_EQ(engineChecks(), 1);
    EXPECT_TRUE(state->ai());
    EXPECT_EQ(state->ignored(), std::set<std::string>{"attach::0"});
    EXPECT_EQ(announcements, 5);  // `app` is assigned on every tick
}

TEST_F(FocusWatcherTests, PollsEveryFourTenthsOnlyWhileTrusted) {
    focus("mail", "first");
    watcher->start();
    watcher->start();
    sim.advance(0.39);
    EXPECT_EQ(state->text(), "");
    sim.advance(0.01);
    EXPECT_EQ(state->text(), "first");
    sim.simApps().setTrusted(false);
    sim.simApps().setText("second");
    sim.advance(1.2);
    EXPECT_EQ(state->text(), "first");
    EXPECT_EQ(engineChecks(), 1);
}

TEST_F(FocusWatcherTests, OurOwnAppInFrontLeavesTheDraftAlone) {
    focus("slack", "key sk-1");
    auto local = watcher->refresh();
    sim.simApps().activate();
    announcements = 0;
    EXPECT_EQ(watcher->refresh(), local);
    EXPECT_EQ(announcements, 0);
    EXPECT_EQ(state->text(), "key sk-1");
}

TEST_F(FocusWatcherTests, MutedOrUnsupportedAppClearsOnceThenPublishesNothing) {
    focus("slack", "key sk-1");
    watcher->refresh();
    sim.simDefaults().set(Prefs::muteKey("com.tinyspeck.slackmacgap"), true);
    EXPECT_EQ(watcher->refresh(), LocalResult::empty);
    EXPECT_FALSE(state->app());
    announcements = 0;
    watcher->refresh();
    focus("other", "key sk-1");
    watcher->refresh();
    EXPECT_EQ(announcements, 0);
    EXPECT_EQ(engineChecks(), 1);
}

TEST_F(FocusWatcherTests, NonEditableFocusClearsOnceKeepingTheApp) {
    focus("slack", "key sk-1");
    watcher->refresh();
    sim.simApps().focusField("AXButton", "Send", desktop::makeRect(0, 0, 10, 10));
    EXPECT_EQ(watcher->refresh(), LocalResult::empty);
    EXPECT_EQ(state->app()->name, "slack");
    EXPECT_EQ(state->text(), "");
    EXPECT_TRUE(state->findings().empty());
    announcements = 0;
    watcher->refresh();
    sim.simApps().focusNothing();
    watcher->refresh();
    EXPECT_EQ(announcements, 0);
    // Another supported app without a field starts over with that app.
    sim.simApps().bringToFront("com.apple.mail");
    watcher->refresh();
    EXPECT_EQ(state->app()->name, "mail");
}

TEST_F(FocusWatcherTests, SwitchingFieldsInOneAppIsATextChange) {
    focus("slack", "message with sk-1");
    watcher->refresh();
    state->setAi(ScoreResult{});
    sim.simApps().focusField("AXTextField", "search words", desktop::makeRect(0, 0, 100, 20));
    watcher->refresh();
    EXPECT_EQ(state->text(), "search words");
    EXPECT_TRUE(state->findings().empty());
    EXPECT_FALSE(state->ai());
    EXPECT_EQ(engineChecks(), 2);
}

TEST_F(FocusWatcherTests, TheSameTextInAnotherAppIsCheckedForItsChannel) {
    focus("slack", "see attached");
    watcher->refresh();
    focus("mail", "see attached");
    watcher->refresh();
    EXPECT_EQ(engineChecks(), 2);
}

TEST_F(FocusWatcherTests, ArmsEachElectronProcessOnceAndReadsItAtOnce) {
    focus("discord", "hello sk-1");
    sim.simApps().setTrusted(false);
    watcher->refresh();  // an on-demand refresh while untrusted does not use up the arming
    EXPECT_TRUE(watcher->electronArmed().empty());
    sim.simApps().setTrusted(true);
    watcher->refresh();
    EXPECT_EQ(state->text(), "hello sk-1");  // the refresh that arms also reads
    watcher->refresh();
    EXPECT_EQ(sim.simApps().manualAccessibilityWrites("com.hnc.Discord"), 1u);

    focus("mail", "plain");  // never armed: not Electron
    watcher->refresh();
    EXPECT_EQ(sim.simApps().manualAccessibilityWrites("com.apple.mail"), 0u);

    sim.simApps().quit("com.hnc.Discord");
    focus("discord", "again");
    watcher->refresh();
    EXPECT_EQ(sim.simApps().manualAccessibilityWrites("com.hnc.Discord"), 2u);
    EXPECT_EQ(watcher->electronArmed().size(), 2u);
    EXPECT_EQ(state->text(), "again");
}

TEST_F(FocusWatcherTests, DismissedFindingLeavesAfterAnEditAndReturnsAfterUndo) {
    focus("mail", "see attached, see you later");
    watcher->refresh();
    state->setIgnored({"later:later:0", "attach::0"});
    EXPECT_THAT(ids(state->findings()), ElementsAre());

    sim.simApps().setText("see attached, see you");
    watcher->refresh();
    EXPECT_EQ(state->ignored(), std::set<std::string>{"attach::0"});
    sim.simApps().setText("see attached, see you later");
    watcher->refresh();
    EXPECT_THAT(ids(state->findings()), ElementsAre("later"));
}

TEST_F(FocusWatcherTests, OddAccessibilityAnswersReadAsAbsences) {
    auto field = focus("mail", "text");
    auto& apps = sim.simApps();
    apps.setAttributeValue(field, "AXValue", 42.0);  // a stepper's number
    watcher->refresh();
    EXPECT_EQ(state->app()->name, "mail");
    EXPECT_EQ(state->text(), "");

    apps.setText("back to text");
    watcher->refresh();
    auto application = desktop::current().accessibility().applicationElement(*apps.pid("com.apple.mail"));
    apps.setAttributeValue(application, "AXFocusedUIElement", std::string("not an element"));
    watcher->refresh();
    EXPECT_EQ(state->text(), "");
    EXPECT_FALSE(state->element());

    apps.setAttributeValue(application, "AXFocusedUIElement", field);
    apps.removeAttribute(field, "AXRole");
    watcher->refresh();
    EXPECT_EQ(state->text(), "");
}

TEST_F(FocusWatcherTests, HugeAndMalformedDraftsAreReadAndChecked) {
    std::string huge;
    while (huge.size() < (1 << 20)) huge += "word sk-1 ";
    focus("mail", huge);
    watcher->refresh();
    EXPECT_EQ(state->text().size(), huge.size());
    EXPECT_EQ(state->wordCount(), huge.size() / 5);
    EXPECT_THAT(ids(state->risks()), ElementsAre("secret"));

    sim.simApps().setText("lone \xed\xa0\x80 surrogate sk-1");
    watcher->refresh();
    EXPECT_THAT(ids(state->risks()), ElementsAre("secret"));
    EXPECT_EQ(state->wordCount(), 4u);
}

TEST_F(FocusWatcherTests, ACutOffOrUnreadableBoxIsNeverJudgedClean) {
    auto field = focus("mail", "all clear");
    auto& apps = sim.simApps();
    apps.setAttributeValue(field, "AXNumberOfCharacters", 9.0);
    watcher->refresh();
    EXPECT_TRUE(state->risks().empty());

    // The reader stopped before the end: what it read is not the draft.
    apps.setAttributeValue(field, "AXNumberOfCharacters", 10.0);
    watcher->refresh();
    EXPECT_THAT(ids(state->risks()), ElementsAre("unchecked"));

    // Nothing readable: no check ran, so nothing may look clean; the pill stays beside the box.
    apps.removeAttribute(field, "AXValue");
    watcher->refresh();
    watcher->refresh();
    EXPECT_TRUE(state->unreadable());
    EXPECT_EQ(state->element(), field);
    EXPECT_TRUE(state->findings().empty());
    EXPECT_THAT(logLines(), ElementsAre(testing::HasSubstr("cannot read the text of the compose box in Mail")));

    apps.setAttributeValue(field, "AXValue", std::string("readable again sk-1"));
    apps.removeAttribute(field, "AXNumberOfCharacters");
    watcher->refresh();
    EXPECT_FALSE(state->unreadable());
    EXPECT_THAT(ids(state->risks()), ElementsAre("secret"));
}
