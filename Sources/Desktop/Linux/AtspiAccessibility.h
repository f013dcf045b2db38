// Other applications' elements through AT-SPI, behind the layer's attribute names: the focused
// element is kept from focus events per owning application (a tree walk only when none was seen),
// roles map onto the editable roles, rich text is read whole with its embedded objects expanded
// (or known to be cut off), a write counts only when reading back shows it, and frames come in
// accessibility coordinates. Trust is the accessibility bus answering
// with org.a11y.Status IsEnabled true. Main thread; every D-Bus call is bounded in time.
// Owned by the Linux desktop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "Desktop/Accessibility.h"
#include "Desktop/Log.h"

typedef struct _AtspiAccessible AtspiAccessible;
typedef struct _AtspiEventListener AtspiEventListener;
typedef struct _AtspiEvent AtspiEvent;
typedef struct _GDBusConnection GDBusConnection;

namespace desktop::x11 {

class AtspiAccessibility final : public Accessibility {
public:
    // A synchronous call to another application waits at most this long.
    static constexpr int kCallTimeoutMs = 250;
    struct Geometry {
        // Root-window coordinates of the top-left corner of the window in front, for toolkits
        // (GTK 4) that answer window-relative extents.
        std::function<std::optional<Point>()> frontWindowOrigin;
        // Root-window coordinates of the primary screen's top-left corner, the origin of
        // accessibility coordinates.
        std::function<Point()> primaryOrigin;
    };

    AtspiAccessibility(Log& log, Geometry geometry);
    ~AtspiAccessibility() override;

    Element applicationElement(int32_t pid) override;
    std::expected<AXValue, AXError> copyAttribute(const Element& element, std::string_view attribute) override;
    AXError setAttribute(const Element& element, std::string_view attribute, const AXValue& value) override;
    bool isTrusted() const override;
    bool isTrustedWithPrompt() override;

    // Tests: forgets the focus events seen so far, so the next read walks the tree.
    void forgetFocus() {
        focused_.clear();
        composeBoxes_.clear();
    }

private:
    struct Handle;
    static void onFocusEvent(AtspiEvent* event, void* data);
    // The process behind an element's bus connection, looked up once per connection: walking up
    // to the application at every focus event costs a round trip per level.
    std::optional<int32_t> processOf(AtspiAccessible* accessible);
    std::shared_ptr<AtspiAccessible> focusedElement(int32_t pid);
    std::shared_ptr<AtspiAccessible> walkForFocus(int32_t pid);
    // The editable element that holds the focused one: itself, or its editable document.
    std::shared_ptr<AtspiAccessible> composeBox(const std::shared_ptr<AtspiAccessible>& focused);
    // The body of the mail composer the element is in: the many-line box last focused in its page
    // (or window, outside a page), else the first one found there.
    std::shared_ptr<AtspiAccessible> composerBody(AtspiAccessible* accessible);
    // The address of the page the element is in: its outermost web document's URL.
    std::optional<std::string> pageAddress(AtspiAccessible* accessible);
    std::expected<AXValue, AXError> valueAttribute(AtspiAccessible* accessible, bool characters);
    std::optional<std::string> role(AtspiAccessible* accessible) const;
    std::expected<AXValue, AXError> extentsAttribute(AtspiAccessible* accessible, bool position);
    bool answersWindowRelative(AtspiAccessible* accessible);
    void readTrust();

    Log& log_;
    Geometry geometry_;
    bool busAnswers_ = false;
    bool enabled_ = false;
    GDBusConnection* session_ = nullptr;
    unsigned statusSubscription_ = 0;
    AtspiEventListener* focusListener_ = nullptr;
    // The last element each process reported focused. A grabbed key makes apps report a focus
    // loss for a moment, so losses do not clear it; the next focus gain replaces it.
    std::map<int32_t, std::shared_ptr<AtspiAccessible>> focused_;
    std::map<AtspiAccessible*, std::shared_ptr<AtspiAccessible>> composeBoxes_;
    // Unique bus names are never reused while the bus runs.
    std::map<std::string, int32_t> processes_;
    // The many-line box last focused in each window and page, the body its composer sends.
    std::map<std::shared_ptr<AtspiAccessible>, std::shared_ptr<AtspiAccessible>> windowBodies_;
    // The last read, which answers the character count asked for right after it.
    struct LastRead {
        AtspiAccessible* accessible = nullptr;
        size_t characters = 0;
    };
    std::optional<LastRead> lastRead_;
    // The size of the last position read, for the size asked for right after it.
    struct LastExtents {
        AtspiAccessible* accessible = nullptr;
        Size size;
    };
    std::optional<LastExtents> lastExtents_;
    std::map<int32_t, bool> windowRelative_;
    std::set<int32_t> toldAboutElectron_;
};

}  // namespace desktop::x11
