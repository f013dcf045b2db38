#include <gmock/gmock.h>

#include "Desktop/Menu.h"
#include "DraftSupport.h"
#include "Kestrel/API.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/App.h"
#include "Kestrel/Draft.h"
#include "Kestrel/Keychain.h"

using namespace kestrel;
using testing::ElementsAre;

namespace {

class AppShellTests : public testing_support::FakeAppsTest {
protected:
    std::vector<std::string> events;
    desktop::Subscription tracking = Analytics::observeTracks(
        [this](const std::string& name, const nlohmann::json&) { events.push_back(name); });

    AppShellTests() { KestrelAPI::resetShared(); }
    ~AppShellTests() override { KestrelAPI::resetShared(); }

    std::shared_ptr<AppDelegate> launch() {
        auto app = AppDelegate::launch();
        sim.drain();
        return app;
    }
    size_t count(const std::string& name) const {
        return static_cast<size_t>(std::count(events.begin(), events.end(), name));
    }
    desktop::Menu& menu(AppDelegate& app) {
        auto& m = *app.statusItem()->menu();
        m.prepareToOpen();
        return m;
    }
    std::vector<std::string> titles(const desktop::Menu& m) {
        std::vector<std::string> out;
        for (const auto& item : m.items) out.push_back(item.separator ? "-" : item.title);
        return out;
    }
    void choose(AppDelegate& app, const std::vector<std::string>& path) {
        const auto* item = menu(app).find(path);
        ASSERT_TRUE(item) << path.back();
        ASSERT_TRUE(item->action) << path.back();
        item->action(*item);
    }
    void signInAs(AppDelegate& app, User user) {
        app.api()->store(SessionResponse{"tok-1", std::move(user)}, "email_code");
    }
};

User makeUser(std::optional<std::string> name, std::optional<std::string> plan,
              std::optional<User::Usage> usage) {
    User user;
    user.userId = "u1";
    user.email = "ann@example.com";
    user.name = std::move(name);
    user.plan = std::move(plan);
    user.usage = std::move(usage);
    return user;
}

}  // namespace

TEST_F(AppShellTests, LaterTrustedLaunchWatchesAtOnce) {
    sim.defaults().set(AppDelegate::kLaunchedBefore, true);
    auto app = launch();
    sim.advance(3);
    EXPECT_THAT(events, ElementsAre("App Launched"));
    EXPECT_FALSE(app->accessibility().window());
}

TEST_F(AppShellTests, AccountSectionShowsNameOrEmailAndFreeUsage) {
    auto app = launch();
    EXPECT_EQ(titles(menu(*app))[0], "Sign in…");
    struct Case {
        User user;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {makeUser("Ann", "pro", User::Usage{5, std::nullopt, 20}), {"Ann · Pro", "Sign out"}},
        {makeUser(std::nullopt, std::nullopt, User::Usage{std::nullopt, 3, 20}),
         {"ann@example.com · Free", "3 of 20 AI checks used this month", "Sign out"}},
        {makeUser("Ann", "FREE", User::Usage{7, 3, 20}),
         {"Ann · Free", "7 of 20 AI checks used this month", "Sign out"}},
        {makeUser("Ann", "free", User::Usage{std::nullopt, std::nullopt, 0}), {"Ann · Free", "Sign out"}},
        {makeUser("Ann", "free", User::Usage{1, 1, std::nullopt}), {"Ann · Free", "Sign out"}},
        {makeUser("Ann", "free", std::nullopt), {"Ann · Free", "Sign out"}},
    };
    for (const auto& c : cases) {
        signInAs(*app, c.user);
        auto items = titles(menu(*app));
        items.resize(c.expected.size());
        EXPECT_EQ(items, c.expected);
        EXPECT_FALSE(menu(*app).items[0].enabled);
    }
}

TEST_F(AppShellTests, MenuListsAppsAndSwitchedOffRulesInOrder) {
    auto app = launch();
    EXPECT_FALSE(menu(*app).find({"Rules turned off (0)"}));
    sim.defaults().set("disabledRules", std::vector<std::string>{"secret", "attach", "secret", "zzz"});
    auto& m = menu(*app);
    const auto* rules = m.find({"Rules turned off (3)"});
    ASSERT_TRUE(rules);
    EXPECT_EQ(titles(*rules->submenu),
              (std::vector<std::string>{"Missing attachment", "Leaked API key / token", "zzz"}));
    EXPECT_EQ(titles(*m.find({"Gate sends in"})->submenu),
              (std::vector<std::string>{"Mail  (⇧⌘D)", "Outlook  (⌘↩)", "Slack  (↩)",
                                        "Microsoft Teams  (↩)", "Discord  (↩)", "Messages  (↩)",
                                        "Thunderbird  (Ctrl+↩)", "Evolution  (Ctrl+↩)"}));
    const auto* check = m.find({"Check what I'm writing"});
    ASSERT_TRUE(check);
    EXPECT_EQ(check->keyEquivalent, "c");
    EXPECT_EQ(check->keyModifiers, desktop::keyflags::command | desktop::keyflags::option);
    EXPECT_EQ(titles(m).back(), "Quit Kestrel");
    EXPECT_EQ(titles(m)[titles(m).size() - 2], "Kestrel " KESTREL_VERSION);
    EXPECT_FALSE(m.find({"Grant Accessibility access…"}));
}

TEST_F(AppShellTests, LaunchAtLoginFollowsTheRealStatusAndLogsFailures) {
    auto app = launch();
    EXPECT_EQ(menu(*app).find({"Launch at login"})->state, desktop::MenuItem::State::off);
    choose(*app, {"Launch at login"});
    EXPECT_EQ(menu(*app).find({"Launch at login"})->state, desktop::MenuItem::State::on);
    sim.simLoginItems().failNextChange("Operation not permitted");
    choose(*app, {"Launch at login"});
    EXPECT_EQ(menu(*app).find({"Launch at login"})->state, desktop::MenuItem::State::on);
    EXPECT_THAT(logLines(), ElementsAre("Kestrel: launch at login failed: Operation not permitted"));
    sim.simLoginItems().setStatus(desktop::LoginItems::Status::requiresApproval);
    EXPECT_EQ(menu(*app).find({"Launch at login"})->state, desktop::MenuItem::State::off);
    EXPECT_EQ(count("Settings Changed"), 1u);
}

TEST_F(AppShellTests, SignOutClearsTheSessionAndReportsOnlyWithAToken) {
    auto app = launch();
    choose(*app, {"Sign in…"});
    EXPECT_TRUE(app->signIn()->window()->isVisible());
    signInAs(*app, makeUser("Ann", "pro", std::nullopt));
    ASSERT_TRUE(Keychain::load());
    choose(*app, {"Sign out"});
    EXPECT_FALSE(app->api()->user());
    EXPECT_FALSE(app->api()->token());
    EXPECT_FALSE(Keychain::load());
    EXPECT_EQ(count("Signed Out"), 1u);
    app->signOutAction();
    EXPECT_EQ(count("Signed Out"), 1u);
    EXPECT_EQ(titles(menu(*app))[0], "Sign in…");
}
