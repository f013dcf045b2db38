#include "Kestrel/AX.h"

#include "Desktop/Desktop.h"

namespace kestrel::AX {

namespace {
template <class T>
std::optional<T> copy(const desktop::Element& element, std::string_view attribute) {
    auto value = desktop::current().accessibility().copyAttribute(element, attribute);
    if (!value) return std::nullopt;
    if (auto* typed = std::get_if<T>(&*value)) return std::move(*typed);
    return std::nullopt;
}
}  // namespace

const std::set<std::string, std::less<>>& editableRoles() {
    static const std::set<std::string, std::less<>> roles = {"AXTextArea", "AXTextField"};
    return roles;
}

std::optional<desktop::Element> element(const desktop::Element& element, std::string_view attribute) {
    return copy<desktop::Element>(element, attribute);
}

std::optional<std::string> attribute(const desktop::Element& element, std::string_view name) {
    return copy<std::string>(element, name);
}

std::optional<double> number(const desktop::Element& element, std::string_view name) {
    return copy<double>(element, name);
}

std::optional<desktop::Rect> frame(const desktop::Element& element) {
    auto position = copy<desktop::Point>(element, kPosition);
    if (!position) return std::nullopt;
    auto size = copy<desktop::Size>(element, kSize);
    if (!size) return std::nullopt;
    auto screens = desktop::current().screens().screens();
    if (screens.empty()) return std::nullopt;
    // Accessibility rectangles hang down from their top-left corner, measured from the primary
    // screen's top edge; ours stand on their bottom-left corner above its bottom edge.
    double height = screens.front().frame.height();
    return desktop::Rect{{position->x, height - position->y - size->height}, *size};
}

void openAccessibilitySettings() { desktop::current().workspace().open(kSettingsURL); }

}  // namespace kestrel::AX
