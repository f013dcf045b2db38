#include <gmock/gmock.h>

#include "DraftSupport.h"
#include "Kestrel/Panel.h"
#include "Kestrel/SendGate.h"

using namespace kestrel;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;

namespace {

constexpr int64_t kReturn = 36;

// Risks: "sk-" (fixable to "[key]") and "password"; warnings: "attached" and "later"; a note:
// "lol". "delve" makes the AI-writing summary say "slop".
constexpr const char* kPanelRules = R"JS(
var KestrelRules = { runRules: function (msg) {
  var out = [];
  var b = msg.body;
  if (b.indexOf('sk-') >= 0) out.push({ id: 'secret', level: 'risk', title: 'API key in the draft',
      detail: 'Anyone who reads it can use it.', original: 'sk-', suggestion: '[key]' });
  if (b.indexOf('password') >= 0) out.push({ id: 'password', level: 'risk', title: 'Password', detail: '' });
  if (b.indexOf('attached') >= 0) out.push({ id: 'attach', level: 'warn', title: 'Attachment?' });
  if (b.indexOf('later') >= 0) out.push({ id: 'later', level: 'warn', title: 'Later', original: 'later' });
  if (b.indexOf('lol') >= 0) out.push({ id: 'tone', level: 'info', title: 'Casual tone' });
  return out;
} };
)JS";
constexpr const char* kPanelSlop = R"JS(
var KestrelSlop = { lint: function (text) {
  return text.indexOf('delve') >= 0 ? { level: 'slop', tells: 3, cats: [], findings: [] }
                                    : { level: 'human', tells: 0, cats: [], findings: [] };
} };
)JS";

Finding finding(std::string id, std::string level, std::string title = "Title") {
    Finding f;
    f.id = std::move(id);
    f.level = std::move(level);
    f.title = std::move(title);
    return f;
}

class PanelTest : public testing_support::DraftTest {
protected:
    PanelTest() {
        scripts.write("rules.js", kPanelRules);
        scripts.write("slop.js", kPanelSlop);
        engine = *Engine::create(scripts.path());
        watcher = std::make_shared<FocusWatcher>(state, engine, api);
        gate = std::make_shared<SendGate>(state, watcher, engine);
        panel = PanelController::create(state, gate, watcher, api);
        gate->onHold = [weak = std::weak_ptr(panel)] {
            if (auto p = weak.lock()) p->showGate();
        };
        EXPECT_TRUE(gate->start());
    }

    // Types `text` into a focused Slack box and presses Return.
    void holdSend(const std::string& text) {
        focus("slack", text);
        sim.simEvents().pressKey(kReturn, 0);
        sim.drain();
    }
    void press(const std::string& title) {
        auto pressed = panel->host().press(title);
        ASSERT_TRUE(pressed) << pressed.error().message;
        sim.drain();
    }
    std::string rendered() { return panel->host().render(); }
    const nlohmann::json& lastEvent(const std::string& name) {
        for (auto it = tracked.rbegin(); it != tracked.rend(); ++it) {
            if (it->name == name) return it->properties;
        }
        static const nlohmann::json none;
        ADD_FAILURE() << "no " << name;
        return none;
    }

    std::shared_ptr<SendGate> gate;
    std::shared_ptr<PanelController> panel;
};

}  // namespace

// ---- Holding a send ------------------------------------------------------------------------

TEST_F(PanelTest, AHeldSendOpensThePanelWithItsFooter) {
    holdSend("Deploy with sk-live and the attached notes later today");
    EXPECT_TRUE(panel->panel().isVisible());
    EXPECT_TRUE(panel->model().gating());
    EXPECT_EQ(rendered(), R"(row
  <exclamationmark.triangle.fill> (red)
  "Hold on before you send" (headline)
  "Slack · 9 words" (caption, secondary)
  [<xmark> Close] (plain, caption bold, secondary)
────────
scroll
  [Ignore all] (plain, caption semibold, accent, tooltip "Drop every finding for the current draft")
  row
    circle (red)
    "API key in the draft" (callout semibold)
    "Anyone who reads it can use it." (caption, secondary)
    [Fix] (bordered, small, tooltip "Replace \"sk-\" with the suggestion")  [Ignore] (bordered, small, tooltip "Drop this for the current draft")  [Turn off rule] (bordered, small, tooltip "Stop checking for this on this Mac")
  row
    circle (orange)
    "Attachment?" (callout semibold)
    [Ignore] (bordered, small, tooltip "Drop this for the current draft")  [Turn off rule] (bordered, small, tooltip "Stop checking for this on this Mac")
  row
    circle (orange)
    "Later" (callout semibold)
    [Ignore] (bordered, small, tooltip "Drop this for the current draft")  [Turn off rule] (bordered, small, tooltip "Stop checking for this on this Mac")
  "Sign in for AI checks and rewrites." (caption, secondary)  [Sign in] (small)
  "ADD A CHECK" (caption2 semibold, tertiary)
  [text field placeholder "In plain English: \"Flag any discount over 20%\""]  [Add] (prominent, small, disabled)
────────
"1 risk would go out with this." (caption, secondary)  [Send anyway]  [Go back] (default)
)");
}

// Hidden, the panel is laid out for a held send; opened by hand it is laid out for itself.
TEST_F(PanelTest, APanelOpenedByHandOverARiskHasNoGateFooter) {
    for (bool heldBefore : {false, true}) {
        if (heldBefore) {
            holdSend("Deploy with sk-live today");
            press("Go back");
        } else {
            focus("slack", "Deploy with sk-live today");
        }
        panel->show("pill");
        sim.drain();
        EXPECT_THAT(rendered(), HasSubstr("\"Kestrel\" (headline)")) << heldBefore;
        EXPECT_THAT(rendered(), Not(HasSubstr("Send anyway"))) << heldBefore;
        panel->hide();
    }
}

TEST_F(PanelTest, EveryOtherWayOfClosingDropsTheHeldSend) {
    struct Case {
        const char* how;
        std::function<void()> close;
    };
    std::vector<Case> cases = {
        {"Go back", [&] { press("Go back"); }},
        {"close button", [&] { press("Close"); }},
        {"hide", [&] { panel->hide(); }},
        {"title bar", [&] { ASSERT_TRUE(sim.simWindows().pressCloseButton(panel->panel())); }},
    };
    for (const auto& c : cases) {
        tracked.clear();
        holdSend("token sk-123");
        ASSERT_TRUE(gate->pending()) << c.how;
        c.close();
        EXPECT_FALSE(panel->panel().isVisible()) << c.how;
        EXPECT_FALSE(gate->pending()) << c.how;
        EXPECT_FALSE(panel->model().gating()) << c.how;
        gate->release();  // nothing left to replay
        sim.drain();
        EXPECT_TRUE(sent("slack").empty()) << c.how;
        if (std::string(c.how) == "Go back")
            EXPECT_EQ(lastEvent("Send Reviewed"), (nlohmann::json{{"platform", "slack"}, {"reason", "went_back"}}));
        else
            EXPECT_EQ(trackedNames().back(), "Send Blocked") << c.how;
    }
}

TEST_F(PanelTest, MutingARuleNamesItInTheNotice) {
    struct Case {
        Finding finding;
        std::string notice;
    };
    for (const auto& c : std::vector<Case>{
             {finding("secret", "risk"), "Leaked API key / token is off. Turn it back on from the menu bar icon."},
             {finding("custom-7", "warn", "Discount over 20%"),
              "Discount over 20% is off. Turn it back on from the menu bar icon."},
             {finding("custom-8", "warn", ""), "custom-8 is off. Turn it back on from the menu bar icon."}}) {
        panel->actions().muteRule(c.finding);
        EXPECT_EQ(panel->model().notice(), c.notice);
        EXPECT_TRUE(state->disabledRules().contains(c.finding.id));
    }
}

TEST_F(PanelTest, ReleaseIfClearChangesNothingWhileNotGating) {
    focus("slack", "all fine here");
    panel->show("menu");
    sim.drain();
    panel->actions().dismiss(finding("x", "warn"));
    EXPECT_FALSE(panel->model().notice());
    EXPECT_TRUE(panel->panel().isVisible());
}

// ---- Fixing --------------------------------------------------------------------------------

TEST(PanelOccurrenceTests, MatchesNeverOverlap) {
    EXPECT_THAT(occurrences("aaaaaaa", "aaa"), ElementsAre(0, 3));
    EXPECT_THAT(occurrences("a sk- b sk- c sk-", "sk-"), ElementsAre(2, 8, 14));
    EXPECT_THAT(occurrences("abc", ""), ElementsAre());
    EXPECT_THAT(occurrences("abc", "abcd"), ElementsAre());
    EXPECT_THAT(occurrences("Ab ab", "ab"), ElementsAre(3));
}

TEST_F(PanelTest, FixReplacesTheChosenOccurrence) {
    struct Case {
        std::optional<int64_t> occurrence;
        std::string fixed;
    };
    for (const auto& c : std::vector<Case>{{std::nullopt, "a [key] b sk- c sk-"},
                                           {1, "a sk- b [key] c sk-"},
                                           {7, "a sk- b sk- c [key]"},
                                           {-3, "a [key] b sk- c sk-"}}) {
        focus("slack", "a sk- b sk- c sk-");
        watcher->refresh();
        Finding f = finding("secret", "risk");
        f.original = "sk-";
        f.suggestion = "[key]";
        f.occurrence = c.occurrence;
        panel->actions().fix(f);
        EXPECT_EQ(sim.simApps().focusedText(), c.fixed);
        EXPECT_EQ(panel->model().notice(), "Fixed.");
        EXPECT_EQ(state->text(), c.fixed);  // read again at once
    }
    EXPECT_EQ(lastEvent("Fix Applied"),
              (nlohmann::json{{"platform", "slack"}, {"rule", "secret"}, {"via", "accessibility"}}));
}

TEST_F(PanelTest, AFixThatRemovesTheLastRiskKeepsTheHold) {
    holdSend("deploy sk-123 now");
    press("Fix");
    EXPECT_EQ(sim.simApps().focusedText(), "deploy [key]123 now");
    EXPECT_TRUE(panel->model().gating());
    EXPECT_TRUE(gate->pending());
    EXPECT_THAT(rendered(), HasSubstr("\"0 risks would go out with this.\""));
    EXPECT_THAT(rendered(), HasSubstr("<checkmark.seal.fill> (accent)"));
}

TEST_F(PanelTest, ARefusedFixPutsTheWholeCorrectedDraftOnTheClipboard) {
    holdSend("deploy sk-123 now");
    sim.simApps().setReadOnly(true);
    press("Fix");
    EXPECT_EQ(sim.simApps().focusedText(), "deploy sk-123 now");
    EXPECT_EQ(desktop::current().pasteboard().string(), "deploy [key]123 now");
    EXPECT_EQ(panel->model().notice(),
              "This app would not accept the edit. The fixed text is on your clipboard — select all and paste.");
    EXPECT_EQ(lastEvent("Fix Applied"), (nlohmann::json{{"platform", "slack"}, {"rule", "secret"}, {"via", "clipboard"}}));
    EXPECT_EQ(state->risks().size(), 1u);
}

TEST_F(PanelTest, AFixWhoseTextIsGoneDismissesInstead) {
    holdSend("deploy sk-123 now");
    Finding stale = state->risks().at(0);
    stale.original = "sk-999";
    panel->actions().fix(stale);
    EXPECT_THAT(trackedNames(), Not(testing::Contains("Fix Applied")));
    EXPECT_EQ(lastEvent("Finding Dismissed")["rule"], "secret");
    EXPECT_TRUE(state->ignored().contains(stale.key()));
    EXPECT_EQ(sim.simApps().focusedText(), "deploy sk-123 now");
}

TEST_F(PanelTest, FixDoesNothingWithoutAnElementOriginalOrSuggestion) {
    focus("slack", "a sk- b");
    watcher->refresh();
    Finding noSuggestion = finding("secret", "risk");
    noSuggestion.original = "sk-";
    panel->actions().fix(noSuggestion);
    state->setElement(std::nullopt);
    Finding full = noSuggestion;
    full.suggestion = "x";
    panel->actions().fix(full);
    EXPECT_EQ(sim.simApps().focusedText(), "a sk- b");
    EXPECT_TRUE(tracked.empty());
    EXPECT_FALSE(panel->model().notice());
}

// ---- Content -------------------------------------------------------------------------------

namespace {

class PanelContentTest : public PanelTest {
protected:
    // A draft in Slack with these findings, as the watcher would have stored it.
    void draft(const std::string& text, std::vector<Finding> findings = {},
               std::optional<SlopSummary> slop = std::nullopt) {
        state->setApp(SupportedApp::forBundle(*scenario::fakeAppBundleID("slack")));
        state->setText(text);
        state->setLocal(LocalResult{std::move(findings), std::move(slop), false});
        sim.drain();
    }
    void signIn() {
        User user;
        user.email = "ada@example.com";
        user.plan = "pro";
        api->store(SessionResponse{"token-1", user}, "dev");
        sim.drain();
    }
    std::string words(size_t n) {
        std::string out;
        for (size_t i = 0; i < n; ++i) out += (i ? " w" : "w") + std::to_string(i);
        return out;
    }
    bool shows(const std::string& text) {
        auto texts = panel->host().texts();
        return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(text) != std::string::npos; });
    }
};

}  // namespace

TEST_F(PanelContentTest, TheMessageInPlaceOfTheFindingsFollowsTrustAppAndText) {
    EXPECT_TRUE(shows("Put the cursor in a message in Mail, Outlook, Slack, Teams, Discord or Messages."));
    EXPECT_TRUE(shows("Nothing focused"));
    EXPECT_FALSE(shows("ADD A CHECK"));
    draft("");
    EXPECT_TRUE(shows("Start typing and the checks run as you go."));
    EXPECT_TRUE(shows("ADD A CHECK"));
    EXPECT_TRUE(shows("Slack"));
    sim.simApps().setTrusted(false);
    panel->host().invalidate();
    EXPECT_TRUE(shows("Kestrel needs Accessibility access to read what you are writing. Grant it from the menu bar icon."));
    EXPECT_TRUE(shows("ADD A CHECK"));
}

TEST_F(PanelContentTest, FindingRowsShowWhatCanBeDoneAboutEachFinding) {
    draft("one");
    state->setLocal(LocalResult::empty);
    sim.drain();
    EXPECT_TRUE(shows("Too short to judge yet."));
    EXPECT_TRUE(shows("Slack · 1 words"));
    state->setLocal(LocalResult{{}, std::nullopt, false});
    sim.drain();
    EXPECT_TRUE(shows("Nothing to flag."));

    Finding note = finding("tone", "info", "Casual");
    note.detail = "";
    draft("one two", {note});
    EXPECT_THAT(panel->host().render(), Not(HasSubstr("Ignore all")));
    EXPECT_THAT(panel->host().render(), HasSubstr("circle (blue)"));
    EXPECT_THAT(panel->host().texts(), Not(testing::Contains("")));  // no empty detail line
    draft("one two", {note, finding("later", "warn")});
    EXPECT_THAT(panel->host().render(), HasSubstr("[Ignore all]"));
}

TEST_F(PanelContentTest, TheAIWritingLineNeedsTwelveWords) {
    SlopSummary slop{"slop", 3, {}};
    draft(words(11), {}, slop);
    EXPECT_FALSE(shows("Reads as AI-written"));
    draft(words(12), {}, slop);
    EXPECT_TRUE(shows("Reads as AI-written (3 tells)"));
    draft(words(12), {}, SlopSummary{"traces", 1, {}});
    EXPECT_TRUE(shows("A few AI traces"));
    draft(words(12), {}, SlopSummary{"human", 0, {}});
    EXPECT_TRUE(shows("Reads human"));
}

TEST_F(PanelContentTest, SignedInDraftsOfEightWordsOfferARewrite) {
    draft(words(8));
    EXPECT_TRUE(shows("Sign in for AI checks and rewrites."));
    EXPECT_THAT(panel->host().render(), Not(HasSubstr("Rewrite in my voice")));
    signIn();
    EXPECT_TRUE(shows("Slack · 8 words · Pro"));
    EXPECT_THAT(panel->host().render(), HasSubstr("[Rewrite in my voice] (small)  [Shorter] (small)"));
    draft(words(7));
    EXPECT_THAT(panel->host().render(), Not(HasSubstr("Rewrite in my voice")));
    draft(words(8));
    panel->model().setRewriteBusy(true);
    EXPECT_THAT(panel->host().render(),
                HasSubstr("[Rewrite in my voice] (small, disabled)  [Shorter] (small, disabled)  spinner (mini)"));
    panel->model().setRewriteBusy(false);
    panel->model().setRewrite("Shorter draft.");
    EXPECT_THAT(panel->host().render(),
                HasSubstr("\"Shorter draft.\" (callout, on control background)\n  [Replace] (small)  [Copy] (small)"));
}

TEST_F(PanelContentTest, TheAIStatusShowsTheFirstCaseThatApplies) {
    signIn();
    draft("hello there");
    ScoreResult limited;
    limited.aiLimited = true;
    limited.voiceScore = 80;
    state->setAi(limited);
    state->setAiPending(true);
    sim.drain();
    EXPECT_TRUE(shows("Monthly AI checks used up. Rule checks still run."));
    EXPECT_FALSE(shows("AI check running…"));
    state->setAi(ScoreResult{});
    sim.drain();
    EXPECT_TRUE(shows("AI check running…"));
    state->setAiPending(false);
    sim.drain();
    EXPECT_FALSE(shows("Voice"));  // a result with neither score shows no row
    ScoreResult scored;
    scored.voiceScore = 72;
    scored.slopScore = 15;
    state->setAi(scored);
    sim.drain();
    EXPECT_THAT(panel->host().render(),
                HasSubstr("<person.wave.2> (secondary)  \"Voice 72\" (caption, secondary)"));
    EXPECT_TRUE(shows("Slop 15"));
}

TEST_F(PanelContentTest, AHundredOddFindingsScrollAndEveryControlStillWorks) {
    std::vector<Finding> many;
    const std::vector<std::string> titles = {"", std::string(5000, 'x'), "🔑🙈 key 👩‍👩‍👧", "مفتاح سري في الرسالة",
                                             "normal"};
    for (int i = 0; i < 100; ++i) {
        Finding f = finding("rule" + std::to_string(i), i % 3 ? "warn" : "risk", titles[i % titles.size()]);
        f.detail = std::string(i % 7 == 0 ? 3000 : 10, 'd');
        f.original = "w1";
        f.suggestion = "🙂";
        many.push_back(f);
    }
    draft(words(20), many);
    panel->showGate();
    sim.drain();
    EXPECT_LE(panel->host().fittingSize().height, PanelView::kMaxHeight);
    EXPECT_EQ(panel->panel().frame().height(), PanelView::kMaxHeight + panel->panel().titleBarHeight());
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(panel->host().press("Ignore")) << i;
    EXPECT_EQ(state->ignored().size(), 100u);
    EXPECT_TRUE(shows("Nothing to flag."));
}

// ---- Window and placement ------------------------------------------------------------------

TEST_F(PanelTest, PlacementFollowsTheComposeBox) {
    struct Case {
        const char* where;
        desktop::Rect field;  // accessibility coordinates
        std::function<desktop::Point(double h)> origin;
    };
    std::vector<Case> cases = {
        {"above", desktop::makeRect(300, 500, 600, 120), [](double) { return desktop::Point{300, 410}; }},
        {"right, tops aligned", desktop::makeRect(300, 40, 600, 120),
         [](double h) { return desktop::Point{912, 860 - h}; }},
        {"left at the right edge", desktop::makeRect(1000, 40, 440, 120),
         [](double h) { return desktop::Point{608, 860 - h}; }},
        {"never off the left edge", desktop::makeRect(200, 40, 1240, 120),
         [](double h) { return desktop::Point{0, 860 - h}; }},
    };
    for (const auto& c : cases) {
        sim.simApps().bringToFront(*scenario::fakeAppBundleID("slack"));
        sim.simApps().focusField("AXTextArea", "hello", c.field);
        panel->show("hotkey");
        sim.drain();
        double h = panel->panel().frame().height();
        EXPECT_EQ(panel->panel().frame().origin, c.origin(h)) << c.where;
    }
}

TEST_F(PanelTest, WithoutABoxThePanelFollowsThePointerAndThenCloses) {
    sim.simScreens().setMouseLocation({700, 600});
    panel->show("menu");
    double h = panel->panel().frame().height();
    EXPECT_EQ(panel->panel().frame().origin, (desktop::Point{716, 600 - h}));
    EXPECT_TRUE(panel->panel().isVisible());
    EXPECT_EQ(lastEvent("Panel Opened"), (nlohmann::json{{"from", "menu"}, {"platform", "none"}}));
    sim.drain();  // the re-fit after the model changed finds nothing focused
    EXPECT_FALSE(panel->panel().isVisible());
}

TEST_F(PanelTest, ATallPanelKeepsItsTopOnTheVisibleFrame) {
    sim.simScreens().setPrimary({800, 400});
    focus("slack", "sk-1 password attached later lol " + std::string(200, 'x'));
    panel->show("pill");
    sim.drain();
    auto frame = panel->panel().frame();
    EXPECT_GT(frame.height(), 375);
    EXPECT_EQ(frame.maxY(), 375);
}

TEST_F(PanelTest, ResizesOnlyWhenTheHeightIsOffByMoreThanAPoint) {
    focus("slack", "sk-1 attached");
    panel->show("pill");
    sim.drain();
    const auto fitted = panel->panel().frame();
    auto grow = [&](double by) {
        panel->panel().setFrame(desktop::makeRect(fitted.minX(), fitted.minY() - by, fitted.width(),
                                                  fitted.height() + by));
        panel->model().setNotice(std::nullopt);  // any announcement re-fits
        sim.drain();
    };
    grow(0.5);
    EXPECT_EQ(panel->panel().frame().height(), fitted.height() + 0.5);
    grow(2);
    EXPECT_EQ(panel->panel().frame().height(), fitted.height());
    EXPECT_EQ(panel->panel().frame().maxY(), fitted.maxY());
}

TEST_F(PanelTest, ActionsAfterTheControllerIsGoneDoNothingButUpgrade) {
    holdSend("sk-123");
    auto actions = panel->actions();
    panel.reset();
    actions.goBack();
    actions.sendAnyway();
    actions.dismissAll();
    actions.close();
    actions.upgrade();
    EXPECT_TRUE(gate->pending());
    EXPECT_THAT(sim.simApps().opened(), ElementsAre("https://kestrel-mail.app/dashboard#billing"));
}

// ---- Rewrite and add check -----------------------------------------------------------------

namespace {

// Signed in against a loopback port nobody listens on, so every request fails in transport.
class PanelServiceTest : public PanelContentTest {
protected:
    PanelServiceTest() { sim.defaults().set(Config::kBackendUrl, std::string("http://127.0.0.1:9")); }
    size_t requestsTo(const std::string& path) {
        return sim.simHttp().requestsTo("http://127.0.0.1:9" + path).size();
    }
};

}  // namespace

TEST_F(PanelServiceTest, AddingACheckNeedsTextAndASession) {
    panel->model().setAddRuleText(" \n\t ");
    panel->actions().addRule();
    EXPECT_FALSE(panel->model().addRuleNote());
    panel->model().setAddRuleText("Flag discounts");
    panel->actions().addRule();
    EXPECT_EQ(panel->model().addRuleNote(), "Sign in to add checks.");
    EXPECT_EQ(requestsTo("/api/rules/my"), 0u);
}

TEST_F(PanelServiceTest, AFailedAddKeepsTheTextAndOnlyOneRequestRunsAtATime) {
    signIn();
    draft("hello there");
    panel->showGate();
    ASSERT_TRUE(panel->host().fill(PanelView::kAddRulePlaceholder, "  Flag any discount over 20%\n"));
    sim.drain();
    ASSERT_TRUE(panel->host().press("Add"));
    EXPECT_EQ(panel->model().addRuleNote(), "Adding…");
    EXPECT_THAT(panel->host().render(), HasSubstr("[Add] (prominent, small, disabled)"));
    panel->actions().addRule();  // a second press while the first is in flight
    ASSERT_TRUE(sim.settle());
    EXPECT_EQ(requestsTo("/api/rules/my"), 1u);
    EXPECT_FALSE(panel->model().addRuleBusy());
    EXPECT_EQ(panel->model().addRuleText(), "  Flag any discount over 20%\n");
    ASSERT_TRUE(panel->model().addRuleNote());
    EXPECT_NE(panel->model().addRuleNote(), "Adding…");
}

TEST_F(PanelServiceTest, AFailedRewriteKeepsTheEarlierOne) {
    signIn();
    focus("slack", "please rewrite this draft of eight whole words");
    watcher->refresh();
    panel->model().setRewrite("Earlier rewrite.");
    panel->actions().rewrite("shorter");
    EXPECT_TRUE(panel->model().rewriteBusy());
    EXPECT_EQ(lastEvent("Rewrite Requested"),
              (nlohmann::json{{"platform", "slack"}, {"kind", "shorter"}, {"via", "backend"}}));
    ASSERT_TRUE(sim.settle());
    EXPECT_FALSE(panel->model().rewriteBusy());
    EXPECT_EQ(panel->model().rewrite(), "Earlier rewrite.");
    ASSERT_TRUE(panel->model().notice());
    EXPECT_EQ(requestsTo("/api/check/rewrite"), 1u);
}

TEST_F(PanelServiceTest, ARewriteTheAppRefusesGoesOntoTheClipboard) {
    focus("slack", "old draft");
    watcher->refresh();
    panel->model().setRewrite("New draft.");
    panel->model().setNotice("Fixed.");
    panel->actions().copyRewrite();
    EXPECT_EQ(panel->model().notice(), "Fixed.");  // a notice already showing stays
    sim.simApps().setReadOnly(true);
    panel->actions().applyRewrite();
    EXPECT_EQ(sim.pasteboard().string(), "New draft.");
    EXPECT_EQ(panel->model().notice(),
              "This app would not accept the text. It is on your clipboard — select all and paste.");
    EXPECT_EQ(lastEvent("Rewrite Applied"), (nlohmann::json{{"platform", "slack"}, {"via", "clipboard"}}));
    EXPECT_EQ(panel->model().rewrite(), "New draft.");
}
