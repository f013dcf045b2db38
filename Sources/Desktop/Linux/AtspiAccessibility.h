// Other applications' elements through AT-SPI, behind the layer's attribute names: the focused
// element is kept from focus events per top-level window of each owning application (a tree walk
// only when the window in front announced none),
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
#include <vector>

#include "Desktop/Accessibility.h"
#include "Desktop/Linux/AtspiDraftReader.h"
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
        // The root-window frame of the window in front in GTK's units, for toolkits (GTK 4) that
        // answer window-relative extents and for those that answer in the screen's pixels.
        std::function<std::optional<Rect>()> frontWindow;
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

    // Tests: forgets the focus events and the compose boxes seen so far, as if just started, so the
    // next read walks the tree.
    void forgetFocus() {
        focused_.clear();
        activated_.clear();
        composeBoxes_.clear();
        windowBodies_.clear();
        composerPages_.clear();
        composerWindows_.clear();
    }

private:
    struct Handle;
    static void onFocusEvent(AtspiEvent* event, void* data);
    // The process behind an element's bus connection, looked up once per connection: walking up
    // to the application at every focus event costs a round trip per level.
    std::optional<int32_t> processOf(AtspiAccessible* accessible);
    std::shared_ptr<AtspiAccessible> focusedElement(int32_t pid);
    // Makes the window whose kept element is `element` the process's latest; false when no window
    // keeps it.
    bool keptAgain(int32_t pid, AtspiAccessible* element);
    // The element `window` of the process last reported focused; none when it reported none.
    std::shared_ptr<AtspiAccessible> keptFocus(int32_t pid, const std::shared_ptr<AtspiAccessible>& window) const;
    // The deepest focused element in the app's top-level windows that are active (or in all of
    // them, with `anyWindow`).
    std::shared_ptr<AtspiAccessible> walkForFocus(int32_t pid, bool anyWindow);
    // The editable element that holds the focused one: itself, or its editable document.
    std::shared_ptr<AtspiAccessible> composeBox(const std::shared_ptr<AtspiAccessible>& focused);
    // The web editor's body the web view `webView` leads to, or its page when it is a mail
    // composer's body not shown yet.
    std::shared_ptr<AtspiAccessible> webEditorIn(AtspiAccessible* webView);
    bool isComposerPage(AtspiAccessible* accessible) const;
    // The body of the mail composer the element is in: the many-line box last focused in its page
    // (or window, outside a page), else the first one found there.
    std::shared_ptr<AtspiAccessible> composerBody(AtspiAccessible* accessible);
    // The address of the page the element is in: its outermost web document's URL.
    std::optional<std::string> pageAddress(AtspiAccessible* accessible);
    std::expected<AXValue, AXError> valueAttribute(AtspiAccessible* accessible, bool characters);
    std::optional<std::string> role(AtspiAccessible* accessible) const;
    std::expected<AXValue, AXError> extentsAttribute(AtspiAccessible* accessible, bool position);
    bool answersWindowRelative(AtspiAccessible* accessible);
    bool answersInPixels(AtspiAccessible* accessible);
    void readTrust();

    Log& log_;
    Geometry geometry_;
    bool busAnswers_ = false;
    bool enabled_ = false;
    GDBusConnection* session_ = nullptr;
    LineQuestions lines_;
    unsigned statusSubscription_ = 0;
    AtspiEventListener* focusListener_ = nullptr;
    // The last element each top-level window reported focused, per process, the latest last. One
    // process may hold many windows (a mail app's main window and its composer): the key press
    // goes to the active one. A grabbed key makes apps report a focus loss for a moment, so losses
    // do not clear it; the window's next focus gain replaces it.
    struct WindowFocus {
        std::shared_ptr<AtspiAccessible> window;
        std::shared_ptr<AtspiAccessible> element;
    };
    std::map<int32_t, std::vector<WindowFocus>> focused_;
    // The top-level window each process last reported activated.
    std::map<int32_t, std::shared_ptr<AtspiAccessible>> activated_;
    // The compose box of the element focused last; the key holds its element alive, so its
    // address is never another element's.
    std::map<std::shared_ptr<AtspiAccessible>, std::shared_ptr<AtspiAccessible>> composeBoxes_;
    // Unique bus names are never reused while the bus runs.
    std::map<std::string, int32_t> processes_;
    // The many-line box last focused in each window and page, the body its composer sends.
    std::map<std::shared_ptr<AtspiAccessible>, std::shared_ptr<AtspiAccessible>> windowBodies_;
    // The pages that stand for a mail composer's body not announced yet, and whether each window
    // walked for one is a composer.
    std::set<std::shared_ptr<AtspiAccessible>> composerPages_;
    std::map<std::shared_ptr<AtspiAccessible>, bool> composerWindows_;
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
    std::map<int32_t, bool> inPixels_;
    std::set<int32_t> toldAboutElectron_;
};

}  // namespace desktop::x11
