#include "Desktop/Linux/AtspiAccessibility.h"

#include <atspi/atspi.h>
#include <gio/gio.h>

#include <algorithm>
#include <utility>

#include "Desktop/Linux/AtspiNodes.h"
#include "Desktop/Linux/GlobalSpace.h"

namespace desktop::x11 {

using namespace atspi;

namespace {
constexpr const char* kA11yBusName = "org.a11y.Bus";
constexpr const char* kA11yBusPath = "/org/a11y/bus";
constexpr const char* kStatusInterface = "org.a11y.Status";
constexpr const char* kIsEnabled = "IsEnabled";
// A tree walked for focus or for a composer's body, and a climb to a window or document, stop at
// these sizes.
constexpr int kMaxWalkNodes = 4000;
constexpr int kMaxClimb = 8;
constexpr int kMaxAncestors = 64;
constexpr const char* kFocusEvents[] = {"object:state-changed:focused", "window:activate"};
}  // namespace

struct AtspiAccessibility::Handle final : ElementHandle {
    int32_t pid = 0;
    std::shared_ptr<AtspiAccessible> accessible;  // none: the application element of `pid`

    // libatspi keeps one proxy object per remote element, so two reads of one element share it.
    bool sameElement(const ElementHandle& other) const override {
        auto* handle = dynamic_cast<const Handle*>(&other);
        return handle && handle->pid == pid && handle->accessible == accessible;
    }
};

namespace {
GDBusConnection* connectToAccessibilityBus(GDBusConnection* session) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(session, kA11yBusName, kA11yBusPath, kA11yBusName, "GetAddress",
                                                  nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE,
                                                  AtspiAccessibility::kCallTimeoutMs, nullptr, &error);
    if (failed(error) || !reply) return nullptr;
    const char* address = nullptr;
    g_variant_get(reply, "(&s)", &address);
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, &error);
    g_variant_unref(reply);
    if (failed(error)) return nullptr;
    return bus;
}

// libatspi subscribes to every app's state, children and property changes to feed a cache that it
// consults only under its own main loop or a cache mask, neither of which is ours: each such
// signal (dozens for every window any app shows, our panel's among them) would wake us for nothing.
void dropCacheSignals() {
    DBusConnection* bus = atspi_get_a11y_bus();
    if (!bus) return;
    for (const char* member : {"ChildrenChanged", "PropertyChange", "StateChanged"}) {
        std::string rule = std::string("type='signal',interface='org.a11y.atspi.Event.Object',member='") + member + "'";
        dbus_bus_remove_match(bus, rule.c_str(), nullptr);
    }
}
}  // namespace

AtspiAccessibility::AtspiAccessibility(Log& log, Geometry geometry) : log_(log), geometry_(std::move(geometry)) {
    // Once per process: libatspi keeps its connection for the process's lifetime.
    static const bool initialised = [] {
        atspi_init();
        dropCacheSignals();
        atspi_set_timeout(kCallTimeoutMs, 2 * kCallTimeoutMs);
        return true;
    }();
    (void)initialised;
    busAnswers_ = atspi_get_a11y_bus() != nullptr;

    GError* error = nullptr;
    session_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (failed(error)) session_ = nullptr;
    if (session_) {
        statusSubscription_ = g_dbus_connection_signal_subscribe(
            session_, kA11yBusName, "org.freedesktop.DBus.Properties", "PropertiesChanged", kA11yBusPath,
            kStatusInterface, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer data) {
                static_cast<AtspiAccessibility*>(data)->readTrust();
            },
            this, nullptr);
        lines_.bus = connectToAccessibilityBus(session_);
    }
    readTrust();

    focusListener_ = atspi_event_listener_new(&AtspiAccessibility::onFocusEvent, this, nullptr);
    GError* registerError = nullptr;
    for (const char* type : kFocusEvents) {
        atspi_event_listener_register(focusListener_, type, &registerError);
        failed(registerError);
    }
}

AtspiAccessibility::~AtspiAccessibility() {
    if (focusListener_) {
        for (const char* type : kFocusEvents) {
            GError* error = nullptr;
            atspi_event_listener_deregister(focusListener_, type, &error);
            failed(error);
        }
        g_object_unref(focusListener_);
    }
    if (lines_.bus) g_object_unref(lines_.bus);
    if (session_) {
        if (statusSubscription_) g_dbus_connection_signal_unsubscribe(session_, statusSubscription_);
        g_object_unref(session_);
    }
}

namespace {
bool isWindow(AtspiAccessible* accessible) {
    auto role = roleOf(accessible);
    return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG;
}

bool isAncestor(AtspiAccessible* candidate, AtspiAccessible* of) {
    auto node = retain(of);
    for (int i = 0; i < kMaxAncestors && node; ++i) {
        node = parentOf(node.get());
        if (node.get() == candidate) return true;
    }
    return false;
}

// The top-level window an element is in: its ancestor whose parent is the application. None for
// an element outside the application's tree.
std::shared_ptr<AtspiAccessible> topLevelWindowOf(AtspiAccessible* accessible) {
    auto node = retain(accessible);
    for (int i = 0; i < kMaxAncestors && node; ++i) {
        auto parent = parentOf(node.get());
        if (!parent) return nullptr;
        if (roleOf(parent.get()) == ATSPI_ROLE_APPLICATION) return node;
        node = std::move(parent);
    }
    return nullptr;
}

// An empty pane right in a top-level window: Gecko announces the focus on one, in a second window
// object of the same name, each time it activates a window, after or before the element that has
// it. It says nothing of where the keys go.
bool isEmptyWindowPane(AtspiAccessible* accessible) {
    auto role = roleOf(accessible);
    if (role != ATSPI_ROLE_PANEL || hasText(accessible)) return false;
    GError* error = nullptr;
    gint children = atspi_accessible_get_child_count(accessible, &error);
    if (failed(error) || children > 0) return false;
    auto parent = parentOf(accessible);
    return parent && isWindow(parent.get());
}
}  // namespace

void AtspiAccessibility::onFocusEvent(AtspiEvent* event, void* data) {
    auto* self = static_cast<AtspiAccessibility*>(data);
    if (event->source && g_str_has_prefix(event->type, "window:activate")) {
        if (auto pid = self->processOf(event->source)) self->activated_[*pid] = retain(event->source);
    } else if (event->source && event->detail1 == 1) {
        // Calls to the app let further events in: the kept elements are only touched after them.
        auto pid = self->processOf(event->source);
        // The element kept, announced again (every grabbed key does it), needs no walk.
        auto window = pid && !self->keptAgain(*pid, event->source) && !isEmptyWindowPane(event->source)
                          ? topLevelWindowOf(event->source)
                          : nullptr;
        if (window) {
            auto element = retain(event->source);
            auto kept = self->keptFocus(*pid, window);
            // A grab makes a toolkit announce its web view again: the element inside stays focused.
            if (kept && isAncestor(event->source, kept.get())) element = kept;
            // Only a focus that moved asks for its compose box again: a held send must not.
            if (element != kept) self->composeBoxes_.clear();
            auto& windows = self->focused_[*pid];
            std::erase_if(windows, [&](const auto& focus) { return focus.window == window; });
            windows.push_back({std::move(window), std::move(element)});
        }
    }
    g_boxed_free(ATSPI_TYPE_EVENT, event);
}

std::optional<int32_t> AtspiAccessibility::processOf(AtspiAccessible* accessible) {
    const AtspiApplication* app = accessible->parent.app;
    if (!app || !app->bus_name) return ownerPid(accessible);
    if (auto known = processes_.find(app->bus_name); known != processes_.end()) return known->second;
    auto pid = ownerPid(accessible);
    if (pid) processes_.emplace(app->bus_name, *pid);
    return pid;
}

bool AtspiAccessibility::keptAgain(int32_t pid, AtspiAccessible* element) {
    auto windows = focused_.find(pid);
    if (windows == focused_.end()) return false;
    auto& kept = windows->second;
    auto again = std::ranges::find_if(kept, [&](const WindowFocus& focus) { return focus.element.get() == element; });
    if (again == kept.end()) return false;
    std::rotate(again, again + 1, kept.end());
    return true;
}

std::shared_ptr<AtspiAccessible> AtspiAccessibility::keptFocus(int32_t pid,
                                                               const std::shared_ptr<AtspiAccessible>& window) const {
    auto windows = focused_.find(pid);
    if (windows == focused_.end()) return nullptr;
    auto kept = std::ranges::find(windows->second, window, &WindowFocus::window);
    return kept == windows->second.end() ? nullptr : kept->element;
}

void AtspiAccessibility::readTrust() {
    enabled_ = false;
    if (!session_) return;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        session_, kA11yBusName, kA11yBusPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kStatusInterface, kIsEnabled), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
        kCallTimeoutMs, nullptr, &error);
    if (failed(error) || !reply) return;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) enabled_ = g_variant_get_boolean(value);
    if (value) g_variant_unref(value);
    g_variant_unref(reply);
}

bool AtspiAccessibility::isTrusted() const { return busAnswers_ && enabled_; }

bool AtspiAccessibility::isTrustedWithPrompt() {
    if (isTrusted() || !session_) return isTrusted();
    // Switches on the session's accessibility, which Chromium and Electron apps read at start.
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        session_, kA11yBusName, kA11yBusPath, "org.freedesktop.DBus.Properties", "Set",
        g_variant_new("(ssv)", kStatusInterface, kIsEnabled, g_variant_new_boolean(TRUE)), nullptr,
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    if (error) {
        log_.write(std::string("Kestrel: could not switch on accessibility: ") + error->message);
        g_error_free(error);
    }
    if (reply) g_variant_unref(reply);
    readTrust();
    return isTrusted();
}

Element AtspiAccessibility::applicationElement(int32_t pid) {
    auto handle = std::make_shared<Handle>();
    handle->pid = pid;
    return Element(std::move(handle));
}

std::shared_ptr<AtspiAccessible> AtspiAccessibility::walkForFocus(int32_t pid, bool anyWindow) {
    auto desktop = own(atspi_get_desktop(0));
    if (!desktop) return nullptr;
    GError* error = nullptr;
    gint apps = atspi_accessible_get_child_count(desktop.get(), &error);
    if (failed(error)) return nullptr;
    for (gint i = 0; i < apps; ++i) {
        auto app = own(atspi_accessible_get_child_at_index(desktop.get(), i, &error));
        if (failed(error) || !app || pidOf(app.get()) != pid) continue;
        // Depth first, bounded: real apps have large trees. A web view, its document and the
        // element inside all say focused: the deepest one is.
        std::vector<std::shared_ptr<AtspiAccessible>> stack;
        gint windows = atspi_accessible_get_child_count(app.get(), &error);
        if (failed(error)) continue;
        for (gint w = std::min(windows, kMaxWalkNodes) - 1; w >= 0; --w) {
            auto window = own(atspi_accessible_get_child_at_index(app.get(), w, &error));
            if (!failed(error) && window && (anyWindow || hasState(window.get(), ATSPI_STATE_ACTIVE)))
                stack.push_back(std::move(window));
        }
        std::shared_ptr<AtspiAccessible> found;
        int visited = 0;
        while (!stack.empty() && visited++ < kMaxWalkNodes) {
            auto node = stack.back();
            stack.pop_back();
            if (hasState(node.get(), ATSPI_STATE_FOCUSED)) {
                found = node;
                stack.clear();
            }
            gint count = atspi_accessible_get_child_count(node.get(), &error);
            if (failed(error)) continue;
            for (gint c = std::min(count, kMaxWalkNodes) - 1; c >= 0; --c) {
                auto child = own(atspi_accessible_get_child_at_index(node.get(), c, &error));
                if (!failed(error) && child) stack.push_back(std::move(child));
            }
        }
        if (found) return found;
    }
    return nullptr;
}

std::shared_ptr<AtspiAccessible> AtspiAccessibility::focusedElement(int32_t pid) {
    // A copy: calls to the app let focus events in, which change the kept elements.
    auto windows = focused_[pid];
    // The key press goes to the active window, whichever of the process's windows spoke last. One
    // state read per window tells both that and whether it closed.
    std::shared_ptr<AtspiAccessible> inActiveWindow;
    std::vector<std::shared_ptr<AtspiAccessible>> closed;
    for (auto focus = windows.rbegin(); focus != windows.rend(); ++focus) {
        AtspiStateSet* states = atspi_accessible_get_state_set(focus->window.get());
        if (!states) continue;
        if (atspi_state_set_contains(states, ATSPI_STATE_DEFUNCT))
            closed.push_back(focus->window);
        else if (!inActiveWindow && atspi_state_set_contains(states, ATSPI_STATE_ACTIVE))
            inActiveWindow = focus->element;
        g_object_unref(states);
    }
    auto isClosed = [&](const WindowFocus& focus) { return std::ranges::find(closed, focus.window) != closed.end(); };
    std::erase_if(focused_[pid], isClosed);
    std::erase_if(windows, isClosed);
    if (inActiveWindow) return composeBox(inActiveWindow);
    // A grabbed key takes the activation for a moment: the window activated last still has it.
    if (auto activated = activated_.find(pid); activated != activated_.end()) {
        if (auto kept = keptFocus(pid, activated->second)) return composeBox(kept);
    }
    // An active window that announced nothing yet is walked; with none active (a grab takes the
    // activation for a moment), the latest announced stays.
    if (auto walked = walkForFocus(pid, windows.empty())) {
        // An element of a closing app may be outside any window: it is read, never kept.
        auto window = topLevelWindowOf(walked.get());
        if (window && !keptFocus(pid, window)) focused_[pid].push_back({std::move(window), walked});
        return composeBox(walked);
    }
    return windows.empty() ? nullptr : composeBox(windows.back().element);
}

namespace {
// Where a composer's body is looked for: the outermost web page the element is in (another tab
// is another page), else its window.
struct Scopes {
    std::shared_ptr<AtspiAccessible> page;
    std::shared_ptr<AtspiAccessible> window;
    const std::shared_ptr<AtspiAccessible>& nearest() const { return page ? page : window; }
};

Scopes scopesOf(AtspiAccessible* accessible) {
    Scopes scopes;
    auto node = retain(accessible);
    for (int i = 0; i < kMaxAncestors && node; ++i) {
        if (isWindow(node.get())) {
            scopes.window = node;
            break;
        }
        if (roleOf(node.get()) == ATSPI_ROLE_DOCUMENT_WEB) scopes.page = node;
        node = parentOf(node.get());
    }
    return scopes;
}

// A box of many lines: a multi-line editable element, or a web editor's body.
bool isManyLineBox(AtspiAccessible* accessible) {
    if (hasState(accessible, ATSPI_STATE_EDITABLE)) return hasState(accessible, ATSPI_STATE_MULTI_LINE);
    return isWebEditorBody(accessible);
}

// The element's frame in screen coordinates, as the app counts them.
std::expected<Rect, AXError> screenExtents(AtspiAccessible* accessible) {
    AtspiComponent* component = atspi_accessible_get_component_iface(accessible);
    if (!component) return std::unexpected(AXError::attributeUnsupported);
    GError* error = nullptr;
    AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error);
    g_object_unref(component);
    std::expected<Rect, AXError> extents = std::unexpected(AXError::cannotComplete);
    if (!failed(error) && rect)
        extents = Rect{{static_cast<double>(rect->x), static_cast<double>(rect->y)},
                       {static_cast<double>(rect->width), static_cast<double>(rect->height)}};
    g_free(rect);
    return extents;
}

// What a web view's chain of containers (view, scroll pane, document) leads to: its page, and the
// web editor's body in it once the page shows one.
struct WebViewContent {
    std::shared_ptr<AtspiAccessible> page;
    std::shared_ptr<AtspiAccessible> body;
};

WebViewContent webViewContentOf(AtspiAccessible* focused) {
    WebViewContent content;
    auto node = retain(focused);
    for (int i = 0; i < kMaxClimb && node; ++i) {
        auto role = roleOf(node.get());
        if (role != ATSPI_ROLE_FILLER && role != ATSPI_ROLE_SCROLL_PANE && role != ATSPI_ROLE_DOCUMENT_WEB) break;
        if (hasState(node.get(), ATSPI_STATE_EDITABLE)) break;
        if (role == ATSPI_ROLE_DOCUMENT_WEB) content.page = node;
        GError* error = nullptr;
        auto child = own(atspi_accessible_get_child_at_index(node.get(), 0, &error));
        if (failed(error) || !child) break;
        if (isWebEditorBody(child.get())) {
            content.body = std::move(child);
            break;
        }
        node = std::move(child);
    }
    return content;
}

// A mail composer's window: its recipients' and subject lines are two or more editable one-line
// fields in sight outside any page. A mail app's main window, which previews mail in a web view
// too, shows one at most (its search).
bool isComposerWindow(AtspiAccessible* window) {
    std::vector<std::shared_ptr<AtspiAccessible>> queue = {retain(window)};
    int fields = 0;
    for (size_t next = 0; next < queue.size() && queue.size() < kMaxWalkNodes; ++next) {
        AtspiStateSet* states = atspi_accessible_get_state_set(queue[next].get());
        if (!states) continue;
        bool showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
        bool field = atspi_state_set_contains(states, ATSPI_STATE_EDITABLE) &&
                     atspi_state_set_contains(states, ATSPI_STATE_SINGLE_LINE);
        g_object_unref(states);
        if (!showing || roleOf(queue[next].get()) == ATSPI_ROLE_DOCUMENT_WEB) continue;
        if (field && ++fields == 2) return true;
        GError* error = nullptr;
        gint count = atspi_accessible_get_child_count(queue[next].get(), &error);
        if (failed(error)) continue;
        for (gint c = 0; c < count && queue.size() < kMaxWalkNodes; ++c) {
            auto child = own(atspi_accessible_get_child_at_index(queue[next].get(), c, &error));
            if (!failed(error) && child) queue.push_back(std::move(child));
        }
    }
    return false;
}
}  // namespace

std::shared_ptr<AtspiAccessible> AtspiAccessibility::webEditorIn(AtspiAccessible* webView) {
    auto content = webViewContentOf(webView);
    if (content.body) return content.body;
    // WebKit shows an editor's body only once it was clicked or typed in, though the keys already
    // go there: until then the page stands for it. Only a native web view (a browser's focused
    // page is its document) in a composer's window.
    auto& page = content.page;
    if (!page || roleOf(webView) != ATSPI_ROLE_FILLER) return nullptr;
    auto window = topLevelWindowOf(webView);
    if (!window) return nullptr;
    // Walked once per window: a main window's preview stays focused through many polls.
    auto verdict = composerWindows_.find(window);
    if (verdict == composerWindows_.end()) verdict = composerWindows_.emplace(window, isComposerWindow(window.get())).first;
    if (!verdict->second) return nullptr;
    auto closed = [](const auto& known) { return hasState(known.get(), ATSPI_STATE_DEFUNCT); };
    std::erase_if(composerPages_, closed);
    std::erase_if(composerWindows_, [&](const auto& entry) { return closed(entry.first); });
    composerPages_.insert(page);
    return page;
}

bool AtspiAccessibility::isComposerPage(AtspiAccessible* accessible) const {
    return std::ranges::any_of(composerPages_, [&](const auto& page) { return page.get() == accessible; });
}

std::shared_ptr<AtspiAccessible> AtspiAccessibility::composeBox(const std::shared_ptr<AtspiAccessible>& focused) {
    // Resolved once per focus change: every poll asks again.
    if (auto known = composeBoxes_.find(focused); known != composeBoxes_.end()) return known->second;
    auto box = focused;
    // The caret may sit in a paragraph of an editable document: the compose box is the document.
    for (int i = 0; i < kMaxClimb && hasState(box.get(), ATSPI_STATE_EDITABLE); ++i) {
        auto parent = parentOf(box.get());
        if (!parent || !hasState(parent.get(), ATSPI_STATE_EDITABLE)) break;
        box = parent;
    }
    // A web view, or its document, holds the focus until the body is clicked: the box is the web
    // editor's body inside.
    if (auto editor = webEditorIn(box.get())) box = editor;
    bool body = isManyLineBox(box.get()) || isComposerPage(box.get());
    if (body) {
        auto scopes = scopesOf(box.get());
        for (const auto& scope : {scopes.page, scopes.window}) {
            if (scope) windowBodies_[scope] = box;
        }
    }
    // A web view whose page is still loading may hold its body later: asked again next time.
    if (!hasState(box.get(), ATSPI_STATE_EDITABLE) && !body) return box;
    composeBoxes_.clear();
    composeBoxes_.emplace(focused, box);
    return box;
}

std::shared_ptr<AtspiAccessible> AtspiAccessibility::composerBody(AtspiAccessible* accessible) {
    auto scope = scopesOf(accessible).nearest();
    if (!scope) return nullptr;
    std::erase_if(windowBodies_, [](const auto& entry) { return hasState(entry.second.get(), ATSPI_STATE_DEFUNCT); });
    // A body out of sight (a browser's other tab) is not the composer this element is in.
    if (auto known = windowBodies_.find(scope); known != windowBodies_.end())
        return hasState(known->second.get(), ATSPI_STATE_SHOWING) ? known->second : nullptr;
    // Breadth first, bounded: the body is near the top of a composer, its recipients' lists are deep.
    // A web view's body may not be shown yet: a Subject line clicked first leaves it unread.
    std::vector<std::shared_ptr<AtspiAccessible>> queue = {scope};
    for (size_t next = 0; next < queue.size() && queue.size() < kMaxWalkNodes; ++next) {
        auto node = queue[next];
        auto body = node.get() == accessible ? nullptr : isManyLineBox(node.get()) ? node : webEditorIn(node.get());
        if (body && hasState(body.get(), ATSPI_STATE_SHOWING)) {
            windowBodies_[scope] = body;
            return body;
        }
        GError* error = nullptr;
        gint count = atspi_accessible_get_child_count(node.get(), &error);
        if (failed(error)) continue;
        for (gint c = 0; c < count && queue.size() < kMaxWalkNodes; ++c) {
            auto child = own(atspi_accessible_get_child_at_index(node.get(), c, &error));
            if (!failed(error) && child) queue.push_back(std::move(child));
        }
    }
    return nullptr;
}

std::optional<std::string> AtspiAccessibility::pageAddress(AtspiAccessible* accessible) {
    // Frames have documents of their own: the page is the outermost one.
    std::shared_ptr<AtspiAccessible> page;
    auto node = retain(accessible);
    for (int i = 0; i < kMaxAncestors && node; ++i) {
        if (roleOf(node.get()) == ATSPI_ROLE_DOCUMENT_WEB) page = node;
        node = parentOf(node.get());
    }
    if (!page) return std::nullopt;
    AtspiDocument* document = atspi_accessible_get_document_iface(page.get());
    if (!document) return std::nullopt;
    std::optional<std::string> address;
    // Chromium names it URI, Firefox DocURL.
    for (const char* name : {"URI", "DocURL"}) {
        GError* error = nullptr;
        gchar* value = atspi_document_get_document_attribute_value(document, const_cast<gchar*>(name), &error);
        if (!failed(error) && value && *value) address = cleanText(value);
        g_free(value);
        if (address) break;
    }
    g_object_unref(document);
    return address;
}

std::optional<std::string> AtspiAccessibility::role(AtspiAccessible* accessible) const {
    GError* error = nullptr;
    AtspiRole role = atspi_accessible_get_role(accessible, &error);
    if (failed(error)) return std::nullopt;
    // The role outlives its element in libatspi's cache; the states tell whether its window closed
    // or its app ended.
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    if (!states) return std::nullopt;
    bool gone = atspi_state_set_contains(states, ATSPI_STATE_DEFUNCT);
    bool editable = atspi_state_set_contains(states, ATSPI_STATE_EDITABLE);
    bool singleLine = atspi_state_set_contains(states, ATSPI_STATE_SINGLE_LINE);
    bool multiLine = atspi_state_set_contains(states, ATSPI_STATE_MULTI_LINE);
    g_object_unref(states);
    if (gone) return std::nullopt;
    if (role == ATSPI_ROLE_PASSWORD_TEXT) return "AXSecureTextField";
    if (!editable && (isWebEditorBody(accessible) || isComposerPage(accessible))) return "AXTextArea";
    bool textual = role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_PARAGRAPH ||
                   role == ATSPI_ROLE_SECTION || role == ATSPI_ROLE_EDITBAR ||
                   role == ATSPI_ROLE_DOCUMENT_FRAME || role == ATSPI_ROLE_DOCUMENT_TEXT ||
                   role == ATSPI_ROLE_DOCUMENT_WEB || role == ATSPI_ROLE_DOCUMENT_EMAIL;
    if (!textual || !editable) return "AXUnknown";
    if (singleLine) return "AXTextField";
    // A web page's rich-text box is an entry of many lines.
    if (multiLine) return "AXTextArea";
    // Documents and text views are boxes of many lines; entries and edit bars are one line.
    return role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_EDITBAR ? "AXTextField" : "AXTextArea";
}

bool AtspiAccessibility::answersWindowRelative(AtspiAccessible* accessible) {
    auto pid = processOf(accessible);
    if (!pid) return false;
    if (auto known = windowRelative_.find(*pid); known != windowRelative_.end()) return known->second;
    GError* error = nullptr;
    auto app = own(atspi_accessible_get_application(accessible, &error));
    bool relative = false;
    if (!failed(error) && app) {
        gchar* name = atspi_accessible_get_toolkit_name(app.get(), &error);
        failed(error);
        gchar* version = atspi_accessible_get_toolkit_version(app.get(), &error);
        failed(error);
        // GTK 4 cannot place its windows on the screen and answers window coordinates.
        relative = name && version && g_ascii_strcasecmp(name, "GTK") == 0 && version[0] == '4';
        g_free(name);
        g_free(version);
    }
    windowRelative_[*pid] = relative;
    return relative;
}

bool AtspiAccessibility::answersInPixels(AtspiAccessible* accessible) {
    int scale = GlobalSpace::current().scale();
    if (scale == 1) return false;
    auto pid = processOf(accessible);
    if (!pid) return false;
    if (auto known = inPixels_.find(*pid); known != inPixels_.end()) return known->second;
    // Chromium counts its pages in the screen's pixels, its windows and every other app in the
    // toolkit's units. A page fills the width of its window: counted in pixels it is wider by the
    // scale. Decided on the first page read; a box outside any page tells nothing.
    auto page = scopesOf(accessible).page;
    auto pageExtents = page ? screenExtents(page.get()) : std::unexpected(AXError::noValue);
    auto window = geometry_.frontWindow ? geometry_.frontWindow() : std::nullopt;
    if (!pageExtents || !window || window->size.width <= 0) return false;
    bool pixels = pageExtents->size.width > window->size.width * (1 + scale) / 2;
    inPixels_[*pid] = pixels;
    return pixels;
}

std::expected<AXValue, AXError> AtspiAccessibility::extentsAttribute(AtspiAccessible* accessible, bool position) {
    // A frame is read as its position, then its size: the size comes from the same round trip.
    auto last = std::exchange(lastExtents_, std::nullopt);
    if (!position && last && last->accessible == accessible) return last->size;
    auto extents = screenExtents(accessible);
    if (!extents) return std::unexpected(extents.error());
    if (answersInPixels(accessible)) extents = GlobalSpace::current().fromPixels(*extents);
    if (!position) return extents->size;
    lastExtents_ = LastExtents{accessible, extents->size};
    Point origin = extents->origin;
    if (answersWindowRelative(accessible)) {
        auto window = geometry_.frontWindow ? geometry_.frontWindow() : std::nullopt;
        if (!window) return std::unexpected(AXError::cannotComplete);
        origin.x += window->origin.x;
        origin.y += window->origin.y;
    }
    Point primary = geometry_.primaryOrigin ? geometry_.primaryOrigin() : Point{};
    return Point{origin.x - primary.x, origin.y - primary.y};
}

std::expected<AXValue, AXError> AtspiAccessibility::copyAttribute(const Element& element, std::string_view attribute) {
    const auto* handle = dynamic_cast<const Handle*>(&element.handle());
    if (!handle) return std::unexpected(AXError::illegalArgument);
    if (!handle->accessible) {
        if (attribute != "AXFocusedUIElement") return std::unexpected(AXError::attributeUnsupported);
        auto focused = focusedElement(handle->pid);
        if (!focused) return std::unexpected(AXError::noValue);
        auto found = std::make_shared<Handle>();
        found->pid = handle->pid;
        found->accessible = std::move(focused);
        return Element(std::move(found));
    }
    AtspiAccessible* accessible = handle->accessible.get();
    if (attribute == "AXRole") {
        if (auto name = role(accessible)) return *name;
        return std::unexpected(AXError::invalidUIElement);
    }
    if (attribute == "AXValue") return valueAttribute(accessible, false);
    if (attribute == "AXNumberOfCharacters") return valueAttribute(accessible, true);
    if (attribute == "AXURL") {
        if (auto address = pageAddress(accessible)) return *address;
        return std::unexpected(AXError::noValue);
    }
    if (attribute == "AXComposerBody") {
        auto body = composerBody(accessible);
        if (!body) return std::unexpected(AXError::noValue);
        auto found = std::make_shared<Handle>();
        found->pid = handle->pid;
        found->accessible = std::move(body);
        return Element(std::move(found));
    }
    if (attribute == "AXPosition") return extentsAttribute(accessible, true);
    if (attribute == "AXSize") return extentsAttribute(accessible, false);
    return std::unexpected(AXError::attributeUnsupported);
}

std::expected<AXValue, AXError> AtspiAccessibility::valueAttribute(AtspiAccessible* accessible, bool characters) {
    // The count is asked for right after the text: answered from that read, not a second one.
    if (characters && lastRead_ && lastRead_->accessible == accessible) {
        auto count = static_cast<double>(lastRead_->characters);
        lastRead_.reset();
        return count;
    }
    auto read = readDraft(accessible, &lines_);
    lastRead_.reset();
    if (!read) return std::unexpected(AXError::noValue);
    if (characters) return static_cast<double>(read->characters);
    lastRead_ = LastRead{accessible, read->characters};
    return std::move(read->text);
}

AXError AtspiAccessibility::setAttribute(const Element& element, std::string_view attribute, const AXValue& value) {
    const auto* handle = dynamic_cast<const Handle*>(&element.handle());
    if (!handle) return AXError::illegalArgument;
    if (!handle->accessible) {
        if (attribute == "AXManualAccessibility" && !toldAboutElectron_.contains(handle->pid)) {
            toldAboutElectron_.insert(handle->pid);
            log_.write("Kestrel: the app with process id " + std::to_string(handle->pid) +
                       " shows its compose box to Kestrel only when it was started after accessibility "
                       "was switched on (or with ACCESSIBILITY_ENABLED=1 and "
                       "--force-renderer-accessibility): quit it and start it again");
        }
        return AXError::attributeUnsupported;
    }
    const auto* text = std::get_if<std::string>(&value);
    if (attribute != "AXValue" || !text) return AXError::attributeUnsupported;
    AtspiAccessible* accessible = handle->accessible.get();
    AtspiEditableText* editable = atspi_accessible_get_editable_text_iface(accessible);
    if (!editable) return AXError::attributeUnsupported;
    auto before = readDraft(accessible, &lines_);
    GError* error = nullptr;
    gboolean done = atspi_editable_text_set_text_contents(editable, text->c_str(), &error);
    g_object_unref(editable);
    if (failed(error) || !done) return AXError::cannotComplete;
    // Some toolkits report success and change nothing: only the text read back counts.
    auto after = readDraft(accessible, &lines_);
    if (!after) return AXError::cannotComplete;
    if (after->text == *text || (before && after->text != before->text)) return AXError::success;
    return AXError::cannotComplete;
}

}  // namespace desktop::x11
