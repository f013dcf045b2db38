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

TEST_F(SimWindowsTests, TheFrameAddsTheTitleBarAboveTheContent) {
    struct Case {
        uint32_t style;
        double titleBar;
    };
    for (const auto& c : std::vector<Case>{
             {windowstyle::titled | windowstyle::closable, 28},
             {windowstyle::titled | windowstyle::utilityWindow | windowstyle::fullSizeContentView, 22},
             {windowstyle::borderless | windowstyle::nonactivatingPanel, 0}}) {
        auto window = make(c.style);
        EXPECT_EQ(window->titleBarHeight(), c.titleBar);
        EXPECT_EQ(window->frame(), makeRect(100, 100, 380, 440 + c.titleBar));
        EXPECT_EQ(window->contentLayoutRect(), makeRect(0, 0, 380, 440));
        window->setFrame(makeRect(0, 0, 380, 200));
        EXPECT_EQ(window->contentLayoutRect().height(), 200 - c.titleBar);
        EXPECT_FALSE(window->isVisible());
    }
}

TEST_F(SimWindowsTests, OrderingKeepsTheFrontMostFirstAndOneKeyWindow) {
    auto a = make(windowstyle::titled);
    auto b = make(windowstyle::titled);
    a->orderFront();
    b->makeKeyAndOrderFront();
    EXPECT_THAT(sim.simWindows().visibleWindows(), ElementsAre(b.get(), a.get()));
    a->makeKeyAndOrderFront();
    EXPECT_THAT(sim.simWindows().visibleWindows(), ElementsAre(a.get(), b.get()));
    EXPECT_TRUE(a->isKey());
    EXPECT_FALSE(b->isKey());
    a->orderOut();
    EXPECT_THAT(sim.simWindows().visibleWindows(), ElementsAre(b.get()));
    EXPECT_FALSE(a->isKey());
    b.reset();  // a window that goes is forgotten
    EXPECT_TRUE(sim.simWindows().visibleWindows().empty());
}

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
