// Reads of other applications' accessibility elements that answer an absence on any failure,
// the roles that count as compose fields, and the way to the system's Accessibility settings.
// Stateless; main thread.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "Desktop/Accessibility.h"
#include "Desktop/Geometry.h"

namespace kestrel::AX {

inline constexpr const char* kFocusedUIElement = "AXFocusedUIElement";
inline constexpr const char* kRole = "AXRole";
inline constexpr const char* kValue = "AXValue";
inline constexpr const char* kManualAccessibility = "AXManualAccessibility";
inline constexpr const char* kPosition = "AXPosition";
inline constexpr const char* kSize = "AXSize";
// The box's length in characters; more than its value holds when the read was cut off.
inline constexpr const char* kNumberOfCharacters = "AXNumberOfCharacters";
// The address of the web page an element is in.
inline constexpr const char* kURL = "AXURL";
// The body of the mail composer window an element is in.
inline constexpr const char* kComposerBody = "AXComposerBody";
inline constexpr const char* kSettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

// {"AXTextArea", "AXTextField"}.
const std::set<std::string, std::less<>>& editableRoles();

// The attribute's value when it is an element.
std::optional<desktop::Element> element(const desktop::Element& element, std::string_view attribute);
// The attribute's value when it is a string.
std::optional<std::string> attribute(const desktop::Element& element, std::string_view name);
// The attribute's value when it is a number.
std::optional<double> number(const desktop::Element& element, std::string_view name);
// The element's frame in global coordinates (bottom-left origin), flipped against the primary
// screen; none without a position, a size or a screen.
std::optional<desktop::Rect> frame(const desktop::Element& element);

void openAccessibilitySettings();

}  // namespace kestrel::AX
