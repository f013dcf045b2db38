#include "Desktop/Menu.h"

#include <gtest/gtest.h>

#include "Desktop/KeyEvent.h"

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

