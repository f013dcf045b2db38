#include <gmock/gmock.h>

#include "Desktop/View.h"
#include "TestSupport.h"

using namespace desktop;
using testing::ElementsAre;

namespace {

class SimWindowsTests : public testing_support::SimDesktopTest {
protected:
    std::unique_ptr<Window> make(uint32_t style, Rect content = makeRect(100, 100, 380, 440)) {
        WindowConfig config;
        config.style = style;
        config.contentRect = content;
        return sim.windows().makeWindow(config);
    }
};

}  // namespace

TEST_F(SimWindowsTests, ClicksReachOurWindowsOrElseTheGlobalMonitors) {
    std::vector<std::string> seen;
    auto window = make(windowstyle::titled, makeRect(100, 100, 200, 100));
    window->setContent(std::make_shared<ui::HostingView>(
        [&] {
            return ui::VStack(ui::HAlign::leading, 0,
                              {ui::Button("OK", [&] { seen.push_back("OK"); })})
                .frame(200, 100);
        },
        std::vector<Observable*>{}));
    auto monitor = sim.windows().addGlobalMouseDownMonitor([&](const MouseEvent& event) {
        seen.push_back("monitor " + std::to_string(int(event.location.x)));
    });

    EXPECT_TRUE(sim.click({150, 150})->window == nullptr);  // hidden windows take no clicks
    window->orderFront();
    // The button sits at the top-left of the content, just under the title bar (y = 200).
    auto onButton = sim.click({110, 190});
    ASSERT_TRUE(onButton);
    EXPECT_EQ(onButton->window, window.get());
    EXPECT_TRUE(onButton->control);
    auto inside = sim.click({250, 110});
    EXPECT_EQ(inside->window, window.get());
    EXPECT_FALSE(inside->control);
    sim.click({500, 500}, MouseButton::right);
    monitor.reset();
    sim.click({600, 600});
    EXPECT_THAT(seen, ElementsAre("monitor 150", "OK", "monitor 500"));
    EXPECT_EQ(sim.screens().mouseLocation(), (Point{600, 600}));
}
