#include "Desktop/Linux/AtspiAccessibility.h"

#include <atspi/atspi.h>
#include <gio/gio.h>

#include <chrono>
#include <cstring>

namespace desktop::x11 {

namespace {
constexpr const char* kA11yBusName = "org.a11y.Bus";
constexpr const char* kA11yBusPath = "/org/a11y/bus";
constexpr const char* kStatusInterface = "org.a11y.Status";
constexpr const char* kIsEnabled = "IsEnabled";
// A tree walked for focus or for a composer's body, a climb to a window or document, and the
// nesting of embedded objects in a draft stop at these sizes.
constexpr int kMaxWalkNodes = 4000;
constexpr int kMaxClimb = 8;
constexpr int kMaxAncestors = 64;
constexpr int kMaxEmbedding = 16;
// A long text comes in pieces of this many characters, each one bounded bus call.
constexpr int kReadChunk = 1 << 16;
constexpr std::string_view kObjectReplacement = "\xEF\xBF\xBC";

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

// The process of the application an element belongs to: the top application reached through its
// parents. A sandboxed web process answers the bus through a proxy whose pid is not its app's.
std::optional<int32_t> ownerPid(AtspiAccessible* accessible) {
    GError* error = nullptr;
    auto app = own(atspi_accessible_get_application(accessible, &error));
    if (failed(error) || !app) return pidOf(accessible);
    return pidOf(app.get());
}

std::shared_ptr<AtspiAccessible> parentOf(AtspiAccessible* accessible) {
    GError* error = nullptr;
    auto parent = own(atspi_accessible_get_parent(accessible, &error));
    if (failed(error)) return nullptr;
    return parent;
}

std::optional<AtspiRole> roleOf(AtspiAccessible* accessible) {
    GError* error = nullptr;
    AtspiRole role = atspi_accessible_get_role(accessible, &error);
    if (failed(error)) return std::nullopt;
    return role;
}

bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    if (!states) return false;
    bool contains = atspi_state_set_contains(states, state);
    g_object_unref(states);
    return contains;
}

std::optional<std::string> objectAttribute(AtspiAccessible* accessible, const char* name) {
    GError* error = nullptr;
    GHashTable* attributes = atspi_accessible_get_attributes(accessible, &error);
    if (failed(error) || !attributes) return std::nullopt;
    std::optional<std::string> value;
    if (auto* found = static_cast<const char*>(g_hash_table_lookup(attributes, name))) value = found;
    g_hash_table_unref(attributes);
    return value;
}

bool hasText(AtspiAccessible* accessible) {
    AtspiText* text = atspi_accessible_get_text_iface(accessible);
    if (text) g_object_unref(text);
    return text != nullptr;
}

// A web editor's body: focusable with Text, the document's body element, yet without the editable
// state (WebKit's composer body).
bool isWebEditorBody(AtspiAccessible* accessible) {
    return hasState(accessible, ATSPI_STATE_FOCUSABLE) && hasText(accessible) &&
           objectAttribute(accessible, "tag") == "body";
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

// Reads a draft as its app will send it, within the limits of characters and time.
class DraftReader {
public:
    std::optional<AtspiAccessibility::TextRead> read(AtspiAccessible* box) {
        deadline_ = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(AtspiAccessibility::kReadTimeLimit));
        if (!appendText(box, 0) && !appendChildren(box, 0)) return std::nullopt;
        // Counted in the text as it reads (embedded objects expanded), as the watcher counts it.
        auto characters = static_cast<size_t>(g_utf8_strlen(out_.data(), static_cast<gssize>(out_.size())));
        return AtspiAccessibility::TextRead{std::move(out_), complete_, characters + (complete_ ? 0 : 1)};
    }

private:
    bool spent() {
        if (characters_ > static_cast<size_t>(AtspiAccessibility::kMaxCharacters) ||
            std::chrono::steady_clock::now() > deadline_)
            complete_ = false;
        return !complete_;
    }

    void append(std::string_view piece) {
        if (piece.empty()) return;
        if (lineBreakDue_ && piece.front() != '\n' && !out_.empty() && out_.back() != '\n') out_ += '\n';
        lineBreakDue_ = false;
        out_ += piece;
    }
    void startLine() {
        if (!out_.empty() && out_.back() != '\n') out_ += '\n';
        lineBreakDue_ = false;
    }

    // The element's own Text, embedded objects expanded; false when it has no Text.
    bool appendText(AtspiAccessible* node, int depth) {
        AtspiText* text = atspi_accessible_get_text_iface(node);
        if (!text) return false;
        auto content = ownText(text, depth);
        g_object_unref(text);
        if (!content) return false;
        appendExpanded(node, *content, depth);
        return true;
    }

    // A line or an inline object comes in one call; the box itself, which may be long, in
    // pieces of a counted length (GTK 4 also answers "" to the whole range of an entry).
    std::optional<std::string> ownText(AtspiText* text, int depth) {
        GError* error = nullptr;
        if (depth > 0) {
            gchar* chars = atspi_text_get_text(text, 0, -1, &error);
            std::string whole = failed(error) ? std::string() : cleanText(chars);
            g_free(chars);
            if (!whole.empty()) {
                characters_ += static_cast<size_t>(g_utf8_strlen(whole.data(), static_cast<gssize>(whole.size())));
                return whole;
            }
        }
        gint count = atspi_text_get_character_count(text, &error);
        if (failed(error)) return std::nullopt;
        std::string whole;
        for (gint start = 0; start < count && !spent(); start += kReadChunk) {
            gint end = std::min(count, start + kReadChunk);
            gchar* chars = atspi_text_get_text(text, start, end, &error);
            if (failed(error)) {
                g_free(chars);
                complete_ = false;
                break;
            }
            whole += cleanText(chars);
            g_free(chars);
            characters_ += static_cast<size_t>(end - start);
        }
        return whole;
    }

    void appendExpanded(AtspiAccessible* node, std::string_view text, int depth) {
        size_t objects = 0;
        for (size_t at = text.find(kObjectReplacement); at != std::string_view::npos;
             at = text.find(kObjectReplacement, at + 1))
            ++objects;
        if (objects == 0) return append(text);
        // Text runs may be children too (Chromium's): then the n-th object is the n-th link.
        // Where every child is an object, a child costs one call instead of two.
        GError* error = nullptr;
        gint children = atspi_accessible_get_child_count(node, &error);
        bool byChild = !failed(error) && children == static_cast<gint>(objects);
        AtspiHypertext* links = byChild ? nullptr : atspi_accessible_get_hypertext_iface(node);
        int index = 0;
        for (size_t at = text.find(kObjectReplacement); at != std::string_view::npos;
             at = text.find(kObjectReplacement)) {
            append(text.substr(0, at));
            text.remove_prefix(at + kObjectReplacement.size());
            if (depth < kMaxEmbedding && !spent()) {
                if (byChild) appendChild(node, index, depth + 1);
                else if (links) appendLink(links, index, depth + 1);
            }
            ++index;
        }
        append(text);
        if (links) g_object_unref(links);
    }

    void appendLink(AtspiHypertext* links, int index, int depth) {
        GError* error = nullptr;
        AtspiHyperlink* link = atspi_hypertext_get_link(links, index, &error);
        if (failed(error) || !link) return;
        auto object = own(atspi_hyperlink_get_object(link, 0, &error));
        g_object_unref(link);
        if (failed(error) || !object) return;
        appendObject(object.get(), depth);
    }

    void appendChild(AtspiAccessible* node, int index, int depth) {
        GError* error = nullptr;
        auto child = own(atspi_accessible_get_child_at_index(node, index, &error));
        if (failed(error) || !child) return;
        appendObject(child.get(), depth);
    }

    void appendObject(AtspiAccessible* object, int depth) {
        bool block = isBlock(object);
        if (block) startLine();
        if (!appendText(object, depth) && !appendChildren(object, depth)) {
            // An image stands for its alternative text (an emoji, a custom emoji's name).
            gchar* name = atspi_accessible_get_name(object, nullptr);
            append(cleanText(name));
            g_free(name);
        }
        if (block) lineBreakDue_ = true;
    }

    // An element without Text: its children, each on its own line when it is a block.
    bool appendChildren(AtspiAccessible* node, int depth) {
        GError* error = nullptr;
        gint count = atspi_accessible_get_child_count(node, &error);
        if (failed(error) || count <= 0 || depth >= kMaxEmbedding) return false;
        for (gint i = 0; i < count && !spent(); ++i) appendChild(node, i, depth + 1);
        return true;
    }

    static bool isBlock(AtspiAccessible* object) {
        auto role = roleOf(object);
        if (!role) return false;
        switch (*role) {
        case ATSPI_ROLE_PARAGRAPH:
        case ATSPI_ROLE_HEADING:
        case ATSPI_ROLE_LIST:
        case ATSPI_ROLE_LIST_ITEM:
        case ATSPI_ROLE_BLOCK_QUOTE:
        case ATSPI_ROLE_TABLE:
        case ATSPI_ROLE_TABLE_ROW:
        case ATSPI_ROLE_ARTICLE:
        case ATSPI_ROLE_FORM:
            return true;
        case ATSPI_ROLE_SECTION:
        case ATSPI_ROLE_PANEL: {
            // A generic container is a block unless it is laid out inline (a mention, a span).
            auto display = objectAttribute(object, "display");
            return !display || !display->starts_with("inline");
        }
        default:
            return false;
        }
    }

    std::chrono::steady_clock::time_point deadline_;
    std::string out_;
    size_t characters_ = 0;
    bool complete_ = true;
    bool lineBreakDue_ = false;
};
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

std::optional<AtspiAccessibility::TextRead> AtspiAccessibility::readText(AtspiAccessible* accessible) {
    return DraftReader().read(accessible);
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

namespace {
bool isAncestor(AtspiAccessible* candidate, AtspiAccessible* of) {
    auto node = retain(of);
    for (int i = 0; i < kMaxAncestors && node; ++i) {
        node = parentOf(node.get());
        if (node.get() == candidate) return true;
    }
    return false;
}
}  // namespace

void AtspiAccessibility::onFocusEvent(AtspiEvent* event, void* data) {
    auto* self = static_cast<AtspiAccessibility*>(data);
    if (event->source && event->detail1 == 1) {
        if (auto pid = ownerPid(event->source)) {
            auto& kept = self->focused_[*pid];
            // A grab makes a toolkit announce its web view again: the element inside stays focused.
            if (!kept || !isAncestor(event->source, kept.get())) kept = retain(event->source);
        }
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
        // Depth first, bounded: real apps have large trees. A web view, its document and the
        // element inside all say focused: the deepest one is.
        std::vector<std::shared_ptr<AtspiAccessible>> stack = {app};
        std::shared_ptr<AtspiAccessible> found;
        int visited = 0;
        while (!stack.empty() && visited++ < kMaxWalkNodes) {
            auto node = stack.back();
            stack.pop_back();
            if (node != app && hasState(node.get(), ATSPI_STATE_FOCUSED)) {
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
    auto it = focused_.find(pid);
    if (it == focused_.end()) {
        auto walked = walkForFocus(pid);
        if (!walked) return nullptr;
        it = focused_.emplace(pid, walked).first;
    }
    return composeBox(it->second);
}

namespace {
bool isWindow(AtspiAccessible* accessible) {
    auto role = roleOf(accessible);
    return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG;
}

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

// The web editor's body down a web view's chain of containers (view, scroll pane, document).
std::shared_ptr<AtspiAccessible> webEditorBodyIn(AtspiAccessible* focused) {
    auto node = retain(focused);
    for (int i = 0; i < kMaxClimb && node; ++i) {
        auto role = roleOf(node.get());
        if (role != ATSPI_ROLE_FILLER && role != ATSPI_ROLE_SCROLL_PANE && role != ATSPI_ROLE_DOCUMENT_WEB) break;
        if (hasState(node.get(), ATSPI_STATE_EDITABLE)) break;
        GError* error = nullptr;
        auto child = own(atspi_accessible_get_child_at_index(node.get(), 0, &error));
        if (failed(error) || !child) break;
        if (isWebEditorBody(child.get())) return child;
        node = child;
    }
    return nullptr;
}
}  // namespace

std::shared_ptr<AtspiAccessible> AtspiAccessibility::composeBox(const std::shared_ptr<AtspiAccessible>& focused) {
    // Resolved once per focus change: every poll asks again.
    if (auto known = composeBoxes_.find(focused.get()); known != composeBoxes_.end()) return known->second;
    auto box = focused;
    // The caret may sit in a paragraph of an editable document: the compose box is the document.
    for (int i = 0; i < kMaxClimb && hasState(box.get(), ATSPI_STATE_EDITABLE); ++i) {
        auto parent = parentOf(box.get());
        if (!parent || !hasState(parent.get(), ATSPI_STATE_EDITABLE)) break;
        box = parent;
    }
    // A web view, or its document, holds the focus until the body is clicked: the box is the web
    // editor's body inside.
    if (auto body = webEditorBodyIn(box.get())) box = body;
    if (isManyLineBox(box.get())) {
        auto scopes = scopesOf(box.get());
        for (const auto& scope : {scopes.page, scopes.window}) {
            if (scope) windowBodies_[scope] = box;
        }
    }
    // A web view whose page is still loading may hold its body later: asked again next time.
    if (!hasState(box.get(), ATSPI_STATE_EDITABLE) && !isWebEditorBody(box.get())) return box;
    composeBoxes_.clear();
    composeBoxes_.emplace(focused.get(), box);
    return box;
}

std::shared_ptr<AtspiAccessible> AtspiAccessibility::composerBody(AtspiAccessible* accessible) {
    auto scope = scopesOf(accessible).nearest();
    if (!scope) return nullptr;
    std::erase_if(windowBodies_, [](const auto& entry) { return hasState(entry.second.get(), ATSPI_STATE_DEFUNCT); });
    if (auto known = windowBodies_.find(scope); known != windowBodies_.end()) return known->second;
    // Breadth first, bounded: the body is near the top of a composer, its recipients' lists are deep.
    std::vector<std::shared_ptr<AtspiAccessible>> queue = {scope};
    for (size_t next = 0; next < queue.size() && queue.size() < kMaxWalkNodes; ++next) {
        auto node = queue[next];
        if (node.get() != accessible && isManyLineBox(node.get())) {
            windowBodies_[scope] = node;
            return node;
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
    if (role == ATSPI_ROLE_PASSWORD_TEXT) return "AXSecureTextField";
    if (!hasState(accessible, ATSPI_STATE_EDITABLE) && isWebEditorBody(accessible)) return "AXTextArea";
    bool textual = role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_PARAGRAPH ||
                   role == ATSPI_ROLE_SECTION || role == ATSPI_ROLE_EDITBAR ||
                   role == ATSPI_ROLE_DOCUMENT_FRAME || role == ATSPI_ROLE_DOCUMENT_TEXT ||
                   role == ATSPI_ROLE_DOCUMENT_WEB || role == ATSPI_ROLE_DOCUMENT_EMAIL;
    if (!textual) return "AXUnknown";
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    if (!states) return std::nullopt;
    bool editable = atspi_state_set_contains(states, ATSPI_STATE_EDITABLE);
    bool singleLine = atspi_state_set_contains(states, ATSPI_STATE_SINGLE_LINE);
    bool multiLine = atspi_state_set_contains(states, ATSPI_STATE_MULTI_LINE);
    g_object_unref(states);
    if (!editable) return "AXUnknown";
    if (singleLine) return "AXTextField";
    // A web page's rich-text box is an entry of many lines.
    if (multiLine) return "AXTextArea";
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
    auto read = readText(accessible);
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
    auto before = readText(accessible);
    GError* error = nullptr;
    gboolean done = atspi_editable_text_set_text_contents(editable, text->c_str(), &error);
    g_object_unref(editable);
    if (failed(error) || !done) return AXError::cannotComplete;
    // Some toolkits report success and change nothing: only the text read back counts.
    auto after = readText(accessible);
    if (!after) return AXError::cannotComplete;
    if (after->text == *text || (before && after->text != before->text)) return AXError::success;
    return AXError::cannotComplete;
}

}  // namespace desktop::x11
