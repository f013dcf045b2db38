#include <gmock/gmock.h>

#include "FakeAppsSupport.h"
#include "Kestrel/AX.h"

using namespace kestrel;

namespace {
class AXTests : public testing_support::FakeAppsTest {};
}  // namespace

TEST_F(AXTests, FrameFlipsAccessibilityCoordinatesAgainstThePrimaryScreen) {
    auto field = focus("mail");
    auto& apps = sim.simApps();
    struct Case {
        desktop::Point position;
        desktop::Size size;
        desktop::Rect expected;
    };
    const Case cases[] = {
        {{100, 50}, {300, 20}, desktop::makeRect(100, 830, 300, 20)},
        // On a second screen stacked above the primary one.
        {{200, -400}, {300, 100}, desktop::makeRect(200, 1200, 300, 100)},
    };
    sim.simScreens().addScreen(desktop::makeRect(0, 900, 1440, 900));
    for (const auto& c : cases) {
        apps.setAttributeValue(field, "AXPosition", c.position);
        apps.setAttributeValue(field, "AXSize", c.size);
        EXPECT_EQ(AX::frame(field), c.expected);
    }
}

TEST_F(AXTests, MissingOrMistypedValuesAreAbsences) {
    auto field = focus("mail", "hello");
    auto& apps = sim.simApps();
    EXPECT_EQ(AX::attribute(field, "AXValue"), "hello");
    EXPECT_FALSE(AX::element(field, "AXValue"));
    apps.setAttributeValue(field, "AXValue", 3.0);
    EXPECT_FALSE(AX::attribute(field, "AXValue"));
    apps.setAttributeValue(field, "AXSize", std::string("wide"));
    EXPECT_FALSE(AX::frame(field));
    apps.removeAttribute(field, "AXSize");
    EXPECT_FALSE(AX::frame(field));  // a position alone is no frame
    apps.setAttributeValue(field, "AXSize", desktop::Size{1, 1});
    EXPECT_TRUE(AX::frame(field));
    sim.simScreens().removeAll();
    EXPECT_FALSE(AX::frame(field));
    apps.setTrusted(false);
    EXPECT_FALSE(AX::attribute(field, "AXRole"));
}
