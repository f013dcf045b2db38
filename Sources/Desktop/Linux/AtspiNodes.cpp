#include "Desktop/Linux/AtspiNodes.h"

namespace desktop::x11::atspi {

std::shared_ptr<AtspiAccessible> own(AtspiAccessible* accessible) {
    if (!accessible) return nullptr;
    return std::shared_ptr<AtspiAccessible>(accessible, [](AtspiAccessible* a) { g_object_unref(a); });
}

std::shared_ptr<AtspiAccessible> retain(AtspiAccessible* accessible) {
    return accessible ? own(static_cast<AtspiAccessible*>(g_object_ref(accessible))) : nullptr;
}

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

bool isWebEditorBody(AtspiAccessible* accessible) {
    return hasState(accessible, ATSPI_STATE_FOCUSABLE) && hasText(accessible) &&
           objectAttribute(accessible, "tag") == "body";
}

std::string cleanText(const char* text) {
    if (!text) return {};
    gchar* valid = g_utf8_make_valid(text, -1);
    std::string clean(valid);
    g_free(valid);
    std::erase(clean, '\0');
    return clean;
}

}  // namespace desktop::x11::atspi
