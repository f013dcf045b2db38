#include "Desktop/Menu.h"

#include "Desktop/KeyEvent.h"

namespace desktop {

MenuItem MenuItem::makeSeparator() {
    MenuItem item;
    item.separator = true;
    item.enabled = false;
    return item;
}

MenuItem& Menu::addItem(MenuItem item) {
    items.push_back(std::move(item));
    return items.back();
}

void Menu::prepareToOpen() {
    if (needsUpdate) needsUpdate(*this);
}

namespace {
std::string shortcut(const MenuItem& item) {
    if (item.keyEquivalent.empty()) return "";
    std::string text;
    if (item.keyModifiers & keyflags::control) text += "⌃";
    if (item.keyModifiers & keyflags::option) text += "⌥";
    if (item.keyModifiers & keyflags::shift) text += "⇧";
    if (item.keyModifiers & keyflags::command) text += "⌘";
    for (char c : item.keyEquivalent) text += static_cast<char>(std::toupper(c));
    return text;
}

void renderInto(const Menu& menu, int depth, std::string& out) {
    for (const auto& item : menu.items) {
        out.append(static_cast<size_t>(depth) * 4, ' ');
        if (item.separator) {
            out += "----\n";
            continue;
        }
        out += item.state == MenuItem::State::on ? "✓ " : "  ";
        out += item.title;
        if (auto keys = shortcut(item); !keys.empty()) out += "    " + keys;
        if (!item.enabled || (!item.action && !item.submenu)) out += "  (disabled)";
        if (item.submenu) out += "  ▸";
        out += '\n';
        if (item.submenu) renderInto(*item.submenu, depth + 1, out);
    }
}
}  // namespace

std::string Menu::render() const {
    std::string out;
    renderInto(*this, 0, out);
    return out;
}

const MenuItem* Menu::find(const std::vector<std::string>& path) const {
    const Menu* menu = this;
    const MenuItem* found = nullptr;
    for (const auto& title : path) {
        if (!menu) return nullptr;
        found = nullptr;
        for (const auto& item : menu->items) {
            if (!item.separator && item.title == title) {
                found = &item;
                break;
            }
        }
        if (!found) return nullptr;
        menu = found->submenu.get();
    }
    return found;
}

}  // namespace desktop
