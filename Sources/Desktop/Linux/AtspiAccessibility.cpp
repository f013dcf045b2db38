#include "Desktop/Linux/AtspiAccessibility.h"

#include <atspi/atspi.h>
#include <gio/gio.h>

#include <cstring>

namespace desktop::x11 {

namespace {
constexpr const char* kA11yBusName = "org.a11y.Bus";
constexpr const char* kA11yBusPath = "/org/a11y/bus";
constexpr const char* kStatusInterface = "org.a11y.Status";
constexpr const char* kIsEnabled = "IsEnabled";
// A compose body read line by line, and a tree walked for focus, stop at these sizes.
constexpr int kMaxChildren = 20000;
constexpr int kMaxWalkNodes = 4000;
constexpr int kMaxClimb = 8;

std::shared_ptr<AtspiAccessible> own(AtspiAccessible* accessible) {
    if (!accessible) return nullptr;
    return std::shared_ptr<AtspiAccessible>(accessible, [](AtspiAccessible* a) { g_object_unref(a); });
}

std::shared_ptr<AtspiAccessible> retain(AtspiAccessible* accessible) {
    return accessible ? own(static_cast<AtspiAccessible*>(g_object_ref(accessible))) : nullptr;
}

// Drops the error an AT-SPI call reported; answers whether there was one.
bool failed(GError*& error) {
    if (!error) return false;
    g_error_free(error);
    error = nullptr;
    return true;
}

std::optional<int32_t> pidOf(AtspiAccessible* accessible) {
    GError* error = nullptr;
    guint pid = atspi_accessible_get_process_id(accessible, &error);
    if (failed(error) || pid == 0) return std::nullopt;
    return static_cast<int32_t>(pid);
}

bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    if (!states) return false;
    bool contains = atspi_state_set_contains(states, state);
    g_object_unref(states);
    return contains;
}

// Another process's text: valid UTF-8 with no NUL, whatever the toolkit sent.
std::string cleanText(const char* text) {
    if (!text) return {};
    gchar* valid = g_utf8_make_valid(text, -1);
    std::string clean(valid);
    g_free(valid);
    std::erase(clean, '\0');
    return clean;
}

std::optional<std::string> ownText(AtspiAccessible* accessible) {
    AtspiText* text = atspi_accessible_get_text_iface(accessible);
    if (!text) return std::nullopt;
    GError* error = nullptr;
    // Count first, then ask for exactly that range: GTK 4 answers "" to (0, -1).
    gint count = atspi_text_get_character_count(text, &error);
    std::optional<std::string> result;
    if (!failed(error)) {
        count = std::clamp(count, 0, AtspiAccessibility::kMaxCharacters);
        gchar* chars = count ? atspi_text_get_text(text, 0, count, &error) : g_strdup("");
        if (!failed(error)) result = cleanText(chars);
        g_free(chars);
    }
    g_object_unref(text);
    return result;
}
}  // namespace

struct AtspiAccessibility::Handle final : ElementHandle {
    int32_t pid = 0;
    std::shared_ptr<AtspiAccessible> accessible;  // none: the application element of `pid`
};

std::optional<std::string> AtspiAccessibility::readText(AtspiAccessible* accessible) {
    if (auto text = ownText(accessible)) return text;
    GError* error = nullptr;
    gint count = atspi_accessible_get_child_count(accessible, &error);
    if (failed(error) || count <= 0) return std::nullopt;
    std::string joined;
    bool any = false;
    for (gint i = 0; i < std::min(count, kMaxChildren); ++i) {
        auto child = own(atspi_accessible_get_child_at_index(accessible, i, &error));
        if (failed(error) || !child) continue;
        auto line = ownText(child.get());
        if (!line) continue;
        if (any) joined += '\n';
        joined += *line;
        any = true;
        if (joined.size() >= static_cast<size_t>(kMaxCharacters) * 4) break;
    }
    if (!any) return std::nullopt;
    return joined;
}

AtspiAccessibility::AtspiAccessibility(Log& log, Geometry geometry) : log_(log), geometry_(std::move(geometry)) {
    // Once per process: libatspi keeps its connection for the process's lifetime.
    static const bool initialised = [] {
        atspi_init();
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
    }
    readTrust();

    focusListener_ = atspi_event_listener_new(&AtspiAccessibility::onFocusEvent, this, nullptr);
    GError* registerError = nullptr;
    atspi_event_listener_register(focusListener_, "object:state-changed:focused", &registerError);
    failed(registerError);
}

AtspiAccessibility::~AtspiAccessibility() {
    if (focusListener_) {
        GError* error = nullptr;
        atspi_event_listener_deregister(focusListener_, "object:state-changed:focused", &error);
        failed(error);
        g_object_unref(focusListener_);
    }
    if (session_) {
        if (statusSubscription_) g_dbus_connection_signal_unsubscribe(session_, statusSubscription_);
        g_object_unref(session_);
    }
}

void AtspiAccessibility::onFocusEvent(AtspiEvent* event, void* data) {
    auto* self = static_cast<AtspiAccessibility*>(data);
    if (event->source && event->detail1 == 1) {
        if (auto pid = pidOf(event->source)) self->focused_[*pid] = retain(event->source);
        self->composeBoxes_.clear();
    }
    g_boxed_free(ATSPI_TYPE_EVENT, event);
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

std::shared_ptr<AtspiAccessible> AtspiAccessibility::walkForFocus(int32_t pid) {
    auto desktop = own(atspi_get_desktop(0));
    if (!desktop) return nullptr;
    GError* error = nullptr;
    gint apps = atspi_accessible_get_child_count(desktop.get(), &error);
    if (failed(error)) return nullptr;
    for (gint i = 0; i < apps; ++i) {
        auto app = own(atspi_accessible_get_child_at_index(desktop.get(), i, &error));
        if (failed(error) || !app || pidOf(app.get()) != pid) continue;
        // Depth first, bounded: real apps have large trees.
        std::vector<std::shared_ptr<AtspiAccessible>> stack = {app};
        int visited = 0;
        while (!stack.empty() && visited++ < kMaxWalkNodes) {
            auto node = stack.back();
            stack.pop_back();
            if (node != app && hasState(node.get(), ATSPI_STATE_FOCUSED)) return node;
            gint count = atspi_accessible_get_child_count(node.get(), &error);
            if (failed(error)) continue;
            for (gint c = std::min(count, kMaxWalkNodes) - 1; c >= 0; --c) {
                auto child = own(atspi_accessible_get_child_at_index(node.get(), c, &error));
                if (!failed(error) && child) stack.push_back(std::move(child));
            }
        }
    }
    return nullptr;
}

std::shared_ptr<AtspiAccessible> AtspiAccessibility::focusedElement(int32_t pid) {
    auto it = focused_.find(pid);
    if (it == focused_.end()) {
        auto walked = walkForFocus(pid);
        if (!walked) return nullptr;
        it = focused_.emplace(pid, walked).first;
    }
    return composeBox(it->second);
}

std::shared_ptr<AtspiAccessible> AtspiAccessibility::composeBox(const std::shared_ptr<AtspiAccessible>& focused) {
    // Resolved once per focus change: every poll asks again.
    if (auto known = composeBoxes_.find(focused.get()); known != composeBoxes_.end()) return known->second;
    auto box = focused;
    // The caret may sit in a paragraph of an editable document: the compose box is the document.
    for (int i = 0; i < kMaxClimb && hasState(box.get(), ATSPI_STATE_EDITABLE); ++i) {
        GError* error = nullptr;
        auto parent = own(atspi_accessible_get_parent(box.get(), &error));
        if (failed(error) || !parent || !hasState(parent.get(), ATSPI_STATE_EDITABLE)) break;
        box = parent;
    }
    composeBoxes_.clear();
    composeBoxes_.emplace(focused.get(), box);
    return box;
}

std::optional<std::string> AtspiAccessibility::role(AtspiAccessible* accessible) const {
    GError* error = nullptr;
    AtspiRole role = atspi_accessible_get_role(accessible, &error);
    if (failed(error)) return std::nullopt;
    if (role == ATSPI_ROLE_PASSWORD_TEXT) return "AXSecureTextField";
    bool textual = role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_PARAGRAPH ||
                   role == ATSPI_ROLE_SECTION || role == ATSPI_ROLE_EDITBAR ||
                   role == ATSPI_ROLE_DOCUMENT_FRAME || role == ATSPI_ROLE_DOCUMENT_TEXT ||
                   role == ATSPI_ROLE_DOCUMENT_WEB || role == ATSPI_ROLE_DOCUMENT_EMAIL;
    if (!textual) return "AXUnknown";
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    if (!states) return std::nullopt;
    bool editable = atspi_state_set_contains(states, ATSPI_STATE_EDITABLE);
    bool singleLine = atspi_state_set_contains(states, ATSPI_STATE_SINGLE_LINE);
    g_object_unref(states);
    if (!editable) return "AXUnknown";
    if (singleLine) return "AXTextField";
    // Documents and text views are boxes of many lines; entries and edit bars are one line.
    return role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_EDITBAR ? "AXTextField" : "AXTextArea";
}

bool AtspiAccessibility::answersWindowRelative(AtspiAccessible* accessible) {
    auto pid = pidOf(accessible);
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

std::expected<AXValue, AXError> AtspiAccessibility::extentsAttribute(AtspiAccessible* accessible, bool position) {
    AtspiComponent* component = atspi_accessible_get_component_iface(accessible);
    if (!component) return std::unexpected(AXError::attributeUnsupported);
    GError* error = nullptr;
    AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error);
    g_object_unref(component);
    if (failed(error) || !rect) {
        g_free(rect);
        return std::unexpected(AXError::cannotComplete);
    }
    Rect extents{{static_cast<double>(rect->x), static_cast<double>(rect->y)},
                 {static_cast<double>(rect->width), static_cast<double>(rect->height)}};
    g_free(rect);
    if (!position) return Size{extents.size.width, extents.size.height};
    Point origin = extents.origin;
    if (answersWindowRelative(accessible)) {
        auto window = geometry_.frontWindowOrigin ? geometry_.frontWindowOrigin() : std::nullopt;
        if (!window) return std::unexpected(AXError::cannotComplete);
        origin.x += window->x;
        origin.y += window->y;
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
    if (attribute == "AXValue") {
        if (auto text = readText(accessible)) return *text;
        return std::unexpected(AXError::noValue);
    }
    if (attribute == "AXPosition") return extentsAttribute(accessible, true);
    if (attribute == "AXSize") return extentsAttribute(accessible, false);
    return std::unexpected(AXError::attributeUnsupported);
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
    auto before = ownText(accessible);
    GError* error = nullptr;
    gboolean done = atspi_editable_text_set_text_contents(editable, text->c_str(), &error);
    g_object_unref(editable);
    if (failed(error) || !done) return AXError::cannotComplete;
    // Some toolkits report success and change nothing: only the text read back counts.
    auto after = ownText(accessible);
    if (!after) return AXError::cannotComplete;
    if (*after == *text || (before && *after != *before)) return AXError::success;
    return AXError::cannotComplete;
}

}  // namespace desktop::x11
