// Menus as the status item shows them: items with titles, key equivalents, check state, a
// represented object, an action or a submenu. A menu with a delegate is rebuilt each time it is
// about to open. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace desktop {

class Menu;

struct MenuItem {
    // none: not a switch; off and on show a check box.
    enum class State { none, off, on };

    std::string title;
    // Empty when the item has none; modifiers are keyflags masks.
    std::string keyEquivalent;
    uint64_t keyModifiers = 0;
    bool separator = false;
    State state = State::none;
    // Absent when the item carries none (or one that is not a string).
    std::optional<std::string> representedObject;
    // Items without an action are disabled unless they open a submenu.
    std::function<void(const MenuItem&)> action;
    std::shared_ptr<Menu> submenu;
    bool enabled = true;

    static MenuItem makeSeparator();
};

class Menu {
public:
    std::vector<MenuItem> items;
    // Called before the menu opens, to rebuild its items.
    std::function<void(Menu&)> needsUpdate;

    void removeAllItems() { items.clear(); }
    MenuItem& addItem(MenuItem item);
    // Rebuilds through the delegate, as opening does.
    void prepareToOpen();
    // The items as text: one line each, submenus indented, "✓ " before checked items.
    std::string render() const;
    // Follows titles through submenus; absent when a title is not found.
    const MenuItem* find(const std::vector<std::string>& path) const;
};

}  // namespace desktop
