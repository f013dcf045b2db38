// Other applications' user-interface elements, read and written by attribute name, and this
// process's trust for doing so. Failures come back as the platform's error codes. Main thread.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "Desktop/Geometry.h"

namespace desktop {

// What a backend keeps for one element; application code only passes it around.
class ElementHandle {
public:
    virtual ~ElementHandle() = default;
    // Whether both handles name the same element: two reads of one element may give two handles.
    virtual bool sameElement(const ElementHandle& other) const { return this == &other; }
};

// An element of another application. Copies refer to the same element; elements compare equal
// when they name the same element of the same application.
class Element {
public:
    explicit Element(std::shared_ptr<const ElementHandle> handle) : handle_(std::move(handle)) {}
    const ElementHandle& handle() const { return *handle_; }
    bool operator==(const Element& other) const {
        return handle_ == other.handle_ || handle_->sameElement(*other.handle_);
    }

private:
    std::shared_ptr<const ElementHandle> handle_;
};

// The platform's error codes; 0 is success.
enum class AXError : int32_t {
    success = 0,
    failure = -25200,
    illegalArgument = -25201,
    invalidUIElement = -25202,
    cannotComplete = -25204,
    attributeUnsupported = -25205,
    apiDisabled = -25211,
    noValue = -25212,
};

// An attribute value: an element, a string, a number, a boolean, a point or a size. Points and
// sizes are in accessibility coordinates (origin at the primary screen's top-left, y downwards).
using AXValue = std::variant<Element, std::string, double, bool, Point, Size>;

class Accessibility {
public:
    virtual ~Accessibility() = default;
    virtual Element applicationElement(int32_t pid) = 0;
    // No value counts as AXError::noValue.
    virtual std::expected<AXValue, AXError> copyAttribute(const Element& element,
                                                          std::string_view attribute) = 0;
    virtual AXError setAttribute(const Element& element, std::string_view attribute,
                                 const AXValue& value) = 0;
    // Whether this process may use the interface; never asks the person.
    virtual bool isTrusted() const = 0;
    // The same, but asks the person to grant it when it is not granted yet.
    virtual bool isTrustedWithPrompt() = 0;
};

}  // namespace desktop
