#include <gmock/gmock.h>

#include <sstream>

#include "Scenario/Runner.h"

using scenario::Runner;
using testing::HasSubstr;

namespace {
struct Run {
    int status;
    std::string output;
};

Run simulate(const std::string& script) {
    std::istringstream in(script);
    std::ostringstream out;
    Runner runner(out, Runner::Options{});
    int status = runner.run(in);
    return {status, out.str()};
}
}  // namespace

TEST(ScenarioRunnerTests, FailuresAreReportedAndTheScriptGoesOn) {
    auto run = simulate(
        "# comment\n"
        "\n"
        "app slack\n"
        "field textarea\n"
        "type \"hello # not a comment\"\n"
        "expect field \"other\"\n"
        "expect field \"hello # not a comment\"\n"
        "expect findings secret\n");
    EXPECT_EQ(run.status, Runner::kFailed);
    EXPECT_THAT(run.output, HasSubstr("> app slack\n"));
    EXPECT_THAT(run.output, HasSubstr("FAIL line 6: expect field \"other\": the field holds \"hello # not a comment\"\n"));
    EXPECT_THAT(run.output, HasSubstr("FAIL line 8: expect findings secret: none\n"));
    EXPECT_THAT(run.output, testing::Not(HasSubstr("line 7")));
}

TEST(ScenarioRunnerTests, ScriptErrorsStopTheRun) {
    const std::pair<const char*, const char*> cases[] = {
        {"frobnicate\nexpect field \"x\"", "ERROR line 1: unknown command \"frobnicate\""},
        {"app slack\ntype \"x\"", "ERROR line 2: no focused field"},
        {"app zoom", "ERROR line 1: unknown app"},
        {"app slack\nfield textarea 1 2 3", "ERROR line 2: missing height"},
        {"wait soon", "ERROR line 1: bad seconds \"soon\""},
        {"key hyper+x", "ERROR line 1: unknown key chord \"hyper+x\""},
        {"trust maybe", "ERROR line 1: trust must be on or off"},
        {"launch\nlaunch", "ERROR line 2: the application is already running"},
        {"expect field unquoted", "ERROR line 1: text must be a quoted string"},
        {"expect event \"Send Clean\" platform", "ERROR line 1: property \"platform\" is not KEY=VALUE"},
        {"wait inf", "ERROR line 1: bad seconds \"inf\""},
        {"type \"open", "ERROR line 1: unterminated string"},
        {"type \"a\"b", "ERROR line 1: text right after a closing quote"},
        {"wait 1e9", "ERROR line 1: cannot wait longer than a day"},
        {"backend dev\nbackend reply /api/check/score 1e300 {}", "ERROR line 2: status must be a whole number from 100 to 599"},
        {"backend dev\nbackend reply /api/check/score 200.5 {}", "ERROR line 2: status must"},
    };
    for (const auto& [script, error] : cases) {
        auto run = simulate(std::string(script) + "\nexpect field \"never reached\"\n");
        EXPECT_EQ(run.status, Runner::kScriptError) << script;
        EXPECT_THAT(run.output, HasSubstr(error)) << script;
        EXPECT_THAT(run.output, testing::Not(HasSubstr("never reached"))) << script;
    }
}

TEST(ScenarioRunnerTests, EventExpectationsLookOnlySinceThePreviousOneOfThatName) {
    auto run = simulate(
        "app messages\n"
        "field textarea\n"
        "type \"see you soon\"\n"
        "key return\n"
        "expect event \"Send Clean\" platform=messages warnings=0\n"
        "expect event \"Send Clean\"\n"
        "expect noevent \"Send Clean\"\n"
        "type \"again\"\n"
        "key return\n"
        "expect event \"Send Clean\" platform=slack\n"
        "expect noevent \"Send Clean\"\n");
    EXPECT_EQ(run.status, Runner::kFailed);
    EXPECT_THAT(run.output, HasSubstr("FAIL line 6: expect event \"Send Clean\": no such event\n"));
    EXPECT_THAT(run.output, HasSubstr("FAIL line 10: expect event \"Send Clean\" platform=slack: saw it with "
                                      "{\"channel\":\"chat\",\"platform\":\"messages\",\"warnings\":0}\n"));
    EXPECT_THAT(run.output, testing::Not(HasSubstr("line 7")));
    EXPECT_THAT(run.output, testing::Not(HasSubstr("line 11")));
}

TEST(ScenarioRunnerTests, HostileScriptsEndInAScriptErrorOrAnAnswer) {
    struct Case {
        std::string script;
        int status;
        const char* output;
    };
    const Case cases[] = {
        {"frob\xff", Runner::kScriptError, "ERROR line 1: unknown command \"frob\uFFFD\""},
        {"app slack\nfield textarea\ntype \"caf\xe9\"\nexpect field \"cafe\"", Runner::kFailed,
         "the field holds \"caf\uFFFD\""},
        {"app messages\nfield textarea\ntype \"caf\xe9 \xff\"\nkey return", Runner::kPassed,
         "sent \"caf\uFFFD \uFFFD\""},
    };
    for (const auto& c : cases) {
        auto run = simulate(c.script + "\n");
        EXPECT_EQ(run.status, c.status) << c.script << "\n" << run.output;
        EXPECT_THAT(run.output, HasSubstr(c.output)) << c.script;
    }
}

TEST(ScenarioRunnerTests, TheStandInReceivesAndShowsTheAnalytics) {
    auto run = simulate(
        "backend dev\n"
        "launch\n"
        "show backend\n");
    EXPECT_EQ(run.status, Runner::kPassed) << run.output;
    EXPECT_THAT(run.output, HasSubstr("  mixpanel event {\"event\":\"kestrel-App Installed\""));
    EXPECT_THAT(run.output,
                testing::ContainsRegex("  posthog [{][^\n]*\"event\":\"kestrel-App Installed\""));
}
