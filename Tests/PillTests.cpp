#include <gmock/gmock.h>

#include "DraftSupport.h"
#include "Kestrel/Pill.h"

using namespace kestrel;
using testing::HasSubstr;

namespace {

Finding finding(std::string id, std::string level) {
    Finding f;
    f.id = std::move(id);
    f.level = std::move(level);
    f.title = "Title";
    return f;
}

class PillTest : public testing_support::DraftTest {
protected:
    PillTest() { pill->start(); }

    std::string look(std::vector<Finding> findings, bool aiPending = false) {
        state->setLocal(LocalResult{std::move(findings), std::nullopt, false});
        state->setAiPending(aiPending);
        return ui::render(PillView{state, {}}.body());
    }
    // Focuses a Slack field with this frame in accessibility coordinates, then one tick.
    void field(desktop::Rect frame) {
        sim.simApps().bringToFront(*scenario::fakeAppBundleID("slack"));
        sim.simApps().focusField("AXTextArea", "hi", frame);
        watcher->refresh();
        sim.advance(PillController::kInterval);
    }

    std::shared_ptr<PillController> pill = std::make_shared<PillController>(state, [] {});
};

}  // namespace

TEST_F(PillTest, ColourNumberAndTooltipSayWhatIsLeft) {
    struct Case {
        std::vector<Finding> findings;
        bool aiPending;
        std::string look;
    };
    const std::string red = "circle (srgb(0.86, 0.25, 0.25))  ";
    const std::string orange = "circle (srgb(0.93, 0.62, 0.12))  ";
    const std::string gradient =
        "circle (gradient srgb(0.11, 0.39, 0.92) → srgb(0.45, 0.41, 0.78) → srgb(0.8, 0.43, 0.64))  ";
    for (const auto& c : std::vector<Case>{
             {{finding("secret", "risk")}, false,
              "[" + red + "\"1\" (system 12 bold, white)] (tooltip \"1 thing to fix before sending\")\n"},
             {{finding("secret", "risk"), finding("a", "warn"), finding("b", "warn")}, false,
              "[" + red + "\"1\" (system 12 bold, white)] (tooltip \"1 thing to fix before sending\")\n"},
             {{finding("secret", "risk"), finding("pii", "risk")}, false,
              "[" + red + "\"2\" (system 12 bold, white)] (tooltip \"2 things to fix before sending\")\n"},
             {{finding("a", "warn")}, false,
              "[" + orange + "\"1\" (system 12 bold, white)] (tooltip \"1 note\")\n"},
             {{finding("a", "warn"), finding("b", "info")}, false,
              "[" + orange + "\"2\" (system 12 bold, white)] (tooltip \"2 notes\")\n"},
             {{}, false, "[" + gradient + "<checkmark> (white)] (tooltip \"Kestrel · looks fine\")\n"},
             {{}, true, "[" + gradient + "spinner (mini, white)] (tooltip \"Kestrel · looks fine\")\n"}}) {
        EXPECT_EQ(look(c.findings, c.aiPending), c.look);
    }
}

TEST_F(PillTest, SitsLeftOfTheFieldNearItsTopOrInsideItAtTheScreensEdge) {
    struct Case {
        desktop::Rect field;  // accessibility coordinates
        std::optional<desktop::Point> origin;  // none: no pill beside a field this narrow
    };
    for (const auto& c : std::vector<Case>{{desktop::makeRect(300, 500, 600, 120), desktop::Point{266, 368}},
                                           {desktop::makeRect(0, 500, 600, 120), desktop::Point{6, 368}},
                                           {desktop::makeRect(300, 500, 41, 120), desktop::Point{266, 368}},
                                           {desktop::makeRect(300, 500, 40, 120), std::nullopt}}) {
        field(c.field);
        ASSERT_EQ(pill->window().isVisible(), c.origin.has_value()) << c.field.width();
        if (c.origin) {
            EXPECT_EQ(pill->window().frame(), desktop::makeRect(c.origin->x, c.origin->y, 26, 26));
        }
    }
}
TEST_F(PillTest, StaysOnAScreenBesideAFieldPartlyOrWhollyOffThem) {
    const auto visible = desktop::current().screens().mainScreen()->visibleFrame;
    for (auto frame : {desktop::makeRect(5000, 300, 600, 120), desktop::makeRect(-2000, 300, 600, 120),
                       desktop::makeRect(300, 5000, 600, 120), desktop::makeRect(-300, -200, 600, 120)}) {
        field(frame);
        ASSERT_TRUE(pill->window().isVisible());
        auto pillFrame = pill->window().frame();
        EXPECT_TRUE(pillFrame.minX() >= visible.minX() && pillFrame.maxX() <= visible.maxX() &&
                    pillFrame.minY() >= visible.minY() && pillFrame.maxY() <= visible.maxY())
            << "field at " << frame.minX() << ", " << frame.minY() << ": pill at " << pillFrame.minX() << ", "
            << pillFrame.minY();
    }
}

TEST_F(PillTest, HidesWhenTrustOrTheFieldGoes) {
    field(desktop::makeRect(300, 500, 600, 120));
    sim.simApps().setTrusted(false);
    sim.advance(PillController::kInterval);
    EXPECT_FALSE(pill->window().isVisible());
    sim.simApps().setTrusted(true);
    sim.advance(PillController::kInterval);
    EXPECT_TRUE(pill->window().isVisible());
    state->clear();
    sim.advance(PillController::kInterval);
    EXPECT_FALSE(pill->window().isVisible());
}
