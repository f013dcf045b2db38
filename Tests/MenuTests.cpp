#include "Desktop/Menu.h"

#include <gtest/gtest.h>

#include "Desktop/KeyEvent.h"
#include "Desktop/Sim/SimStatusBar.h"

using namespace desktop;

namespace {
MenuItem item(std::string title, std::function<void(const MenuItem&)> action = {}) {
    MenuItem i;
    i.title = std::move(title);
    i.action = std::move(action);
    return i;
}
}  // namespace

TEST(MenuTests, RebuildsOnEveryOpeningAndRendersItsItems) {
    int openings = 0;
    Menu menu;
    menu.needsUpdate = [&](Menu& m) {
        m.removeAllItems();
        ++openings;
        m.addItem(item("Opened " + std::to_string(openings)));
        auto& check = m.addItem(item("Check", [](const MenuItem&) {}));
        check.keyEquivalent = "c";
        check.keyModifiers = keyflags::command | keyflags::option;
        m.addItem(MenuItem::makeSeparator());
        auto apps = std::make_shared<Menu>();
        auto& mail = apps->addItem(item("Mail  (⇧⌘D)", [](const MenuItem&) {}));
        mail.state = MenuItem::State::on;
        auto& parent = m.addItem(item("Gate sends in"));
        parent.submenu = apps;
    };
    menu.prepareToOpen();
    menu.prepareToOpen();
    EXPECT_EQ(menu.render(),
              "  Opened 2  (disabled)\n"
              "  Check    ⌥⌘C\n"
              "----\n"
              "  Gate sends in  ▸\n"
              "    ✓ Mail  (⇧⌘D)\n");
    ASSERT_NE(menu.find({"Gate sends in", "Mail  (⇧⌘D)"}), nullptr);
    EXPECT_EQ(menu.find({"Gate sends in", "Slack  (↩)"}), nullptr);
    EXPECT_EQ(menu.find({"Check", "Mail  (⇧⌘D)"}), nullptr);
}

TEST(StatusBarTests, KeepsTheLatestItemWhileTheApplicationHoldsIt) {
    sim::SimStatusBar bar;
    {
        auto item = bar.makeStatusItem();
        item->setSymbol("checkmark.seal", "Kestrel", true);
        item->setTooltip("Kestrel");
        ASSERT_TRUE(bar.item());
        EXPECT_EQ(bar.item()->symbol(), "checkmark.seal");
        EXPECT_TRUE(bar.item()->isTemplate());
        item->setSymbol("", "Kestrel", true);
        EXPECT_FALSE(bar.item()->symbol());
    }
    EXPECT_FALSE(bar.item());
}

TEST(LoginItemsTests, FailuresLeaveTheStatusAsItWas) {
    sim::SimLoginItems login;
    ASSERT_TRUE(login.registerApp());
    EXPECT_EQ(login.status(), LoginItems::Status::enabled);
    login.failNextChange("Operation not permitted");
    auto refused = login.unregisterApp();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "Operation not permitted");
    EXPECT_EQ(login.status(), LoginItems::Status::enabled);
    EXPECT_TRUE(login.unregisterApp());
    EXPECT_EQ(login.status(), LoginItems::Status::notRegistered);
}
