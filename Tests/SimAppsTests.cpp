#include <gmock/gmock.h>

#include "FakeAppsSupport.h"

using desktop::AXError;
using desktop::KeyEvent;
using desktop::KeyEventType;
using testing::ElementsAre;

namespace {
class SimAppsTests : public testing_support::FakeAppsTest {
protected:
    desktop::sim::SimApps& apps = sim.simApps();
    desktop::Accessibility& accessibility = sim.accessibility();
};
}  // namespace

TEST_F(SimAppsTests, FieldsAcceptOrRefuseWritesOfTheirText) {
    auto field = focus("mail", "draft");
    EXPECT_EQ(accessibility.setAttribute(field, "AXValue", std::string("fixed")), AXError::success);
    EXPECT_EQ(apps.focusedText(), "fixed");
    apps.setReadOnly(true);
    EXPECT_EQ(accessibility.setAttribute(field, "AXValue", std::string("again")), AXError::cannotComplete);
    EXPECT_EQ(accessibility.setAttribute(field, "AXRole", std::string("x")), AXError::attributeUnsupported);
    EXPECT_EQ(apps.focusedText(), "fixed");
    apps.quit("com.apple.mail");
    EXPECT_EQ(accessibility.copyAttribute(field, "AXValue").error(), AXError::invalidUIElement);
}

TEST_F(SimAppsTests, NewestTapSeesEventsFirstAndPostedEventsTravelThroughAllTaps) {
    std::vector<std::string> seen;
    auto mask = desktop::eventMask(KeyEventType::keyDown);
    auto first = sim.events().createTap(mask, [&](KeyEventType, const KeyEvent& e) {
        seen.push_back("first " + std::to_string(e.sourceUserData));
        return std::optional(e);
    });
    auto second = sim.events().createTap(mask, [&](KeyEventType, const KeyEvent& e) {
        seen.push_back("second " + std::to_string(e.sourceUserData));
        auto changed = e;
        changed.sourceUserData = 7;
        return e.keyCode == 53 ? std::nullopt : std::optional(changed);
    });
    focus("other", "");
    sim.simEvents().pressKey(53);
    sim.events().post(KeyEvent{KeyEventType::keyDown, 1, 0, 3});
    EXPECT_THAT(seen, ElementsAre("second 0"));
    sim.drain();
    EXPECT_THAT(seen, ElementsAre("second 0", "second 3", "first 7"));
    ASSERT_EQ(sim.simEvents().delivered().size(), 2u);  // the key-up of Escape, the posted key
    EXPECT_EQ(sim.simEvents().delivered()[1].sourceUserData, 7);

    second->enable(false);
    sim.simEvents().pressKey(53);
    EXPECT_EQ(seen.back(), "first 0");
}
