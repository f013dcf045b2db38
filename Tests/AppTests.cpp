#include <gmock/gmock.h>

#include "DraftSupport.h"
#include "Kestrel/App.h"
#include "Kestrel/Draft.h"
#include "Kestrel/Panel.h"
#include "Kestrel/Pill.h"
#include "Kestrel/SendGate.h"

using namespace kestrel;
using testing::ElementsAre;

namespace {
class AppDelegateTests : public testing_support::FakeAppsTest {
protected:
    std::shared_ptr<AppDelegate> launch() {
        auto app = AppDelegate::launch();
        return app;
    }
};
}  // namespace

TEST_F(AppDelegateTests, RefusedTapIsLoggedAndWatchingGoesOn) {
    sim.simEvents().refuseTaps(true);
    auto app = launch();
    EXPECT_THAT(logLines(), ElementsAre(AppDelegate::kTapFailedLine));
    focus("mail", "hello there");
    sim.advance(0.4);
    EXPECT_EQ(app->state()->text(), "hello there");
}

TEST_F(AppDelegateTests, UnloadableEngineShowsTheAlertAndTerminates) {
    testing_support::ScratchDirectory resources;
    resources.write("engine/rules.js", "var KestrelRules = {};");
    sim.simBundle().setResourceDirectory(resources.path());
    auto app = launch();
    ASSERT_EQ(sim.simWindows().alerts().size(), 1u);
    const auto& alert = sim.simWindows().alerts()[0];
    EXPECT_EQ(alert.message, "Kestrel could not load its rule engine");
    EXPECT_EQ(alert.informativeText, "missingScript(\"" + (resources.path() / "engine" / "slop.js").string() +
                                         "\")\n\nRun scripts/sync-shared and rebuild.");
    EXPECT_TRUE(sim.simApps().terminated());
    EXPECT_FALSE(app->engine());
    EXPECT_FALSE(app->watcher());
    EXPECT_FALSE(app->gate());
}

TEST_F(AppDelegateTests, TheHotkeyTogglesThePanel) {
    auto app = launch();
    focus("slack", "hello there");
    sim.advance(0.5);
    constexpr int64_t kC = 8;
    for (bool visible : {true, false}) {
        sim.simEvents().pressKey(kC, desktop::keyflags::command | desktop::keyflags::option);
        sim.drain();
        EXPECT_EQ(app->panel()->panel().isVisible(), visible);
    }
}

TEST_F(AppDelegateTests, ThePanelsSignInButtonOpensTheSignInWindow) {
    auto app = launch();
    focus("slack", "hello there");
    app->panel()->show("menu");
    sim.drain();
    ASSERT_TRUE(app->panel()->host().press("Sign in"));
    ASSERT_TRUE(app->signIn()->window());
    EXPECT_TRUE(app->signIn()->window()->isVisible());
}
