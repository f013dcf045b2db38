#include "Desktop/Linux/SecretServiceStore.h"

#include <libsecret/secret.h>

#include "Desktop/Desktop.h"
#include "Desktop/Linux/GLibPtr.h"

namespace desktop::x11 {

namespace {

// Items are found by these two attributes, as the keychain finds them by service and account.
const SecretSchema* schema() {
    static const SecretSchema kSchema = {
        "app.kestrel.Kestrel.Session",
        SECRET_SCHEMA_NONE,
        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING}, {"account", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, {}}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &kSchema;
}

bool valid(const SecItemQuery& query) {
    return !query.service.empty() && !query.account.empty() &&
           g_utf8_validate(query.service.c_str(), -1, nullptr) && g_utf8_validate(query.account.c_str(), -1, nullptr);
}

struct SecretFree {
    void operator()(gchar* secret) const { secret_password_free(secret); }
};
using SecretPtr = std::unique_ptr<gchar, SecretFree>;

// Looks the item up; answers whether it exists, and fills `data` when asked.
std::expected<bool, std::string> lookup(const SecItemQuery& query, std::string* data) {
    GError* raw = nullptr;
    SecretPtr secret(secret_password_lookup_sync(schema(), nullptr, &raw, "service", query.service.c_str(),
                                                 "account", query.account.c_str(), nullptr));
    GErrorPtr error(raw);
    if (error) return std::unexpected(describe(error.get()));
    if (!secret) return false;
    if (data) *data = secret.get();
    return true;
}

}  // namespace

struct SecretServiceStore::Pending {
    GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    SecretServiceStore* store;
};

struct SecretServiceStore::Lookup {
    std::weak_ptr<Pending> owner;
    std::function<void(SecCopyResult)> done;
};

SecretServiceStore::SecretServiceStore() : pending_(std::make_shared<Pending>(Pending{.store = this})) {}

SecretServiceStore::~SecretServiceStore() { g_cancellable_cancel(pending_->cancellable.get()); }

void SecretServiceStore::copyMatchingLater(const SecItemQuery& query, std::function<void(SecCopyResult)> done) {
    if (!valid(query)) return done({secstatus::param, std::nullopt});
    auto* lookup = new Lookup{pending_, std::move(done)};
    // A search rather than a lookup: a lookup answers a keyring left locked (its prompt
    // cancelled) as no item at all, and the person would be signed out without a word.
    secret_password_search(
        schema(), static_cast<SecretSearchFlags>(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS),
        pending_->cancellable.get(),
        [](GObject*, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Lookup> lookup(static_cast<Lookup*>(data));
            GError* raw = nullptr;
            GList* found = secret_password_search_finish(result, &raw);
            GErrorPtr error(raw);
            std::unique_ptr<GList, void (*)(GList*)> items(
                found, [](GList* list) { g_list_free_full(list, g_object_unref); });
            auto owner = lookup->owner.lock();
            if (!owner || g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
            if (error) return lookup->done({owner->store->failed("read", describe(error.get())), std::nullopt});
            if (!items) return lookup->done({secstatus::itemNotFound, std::nullopt});
            auto* item = SECRET_IS_ITEM(items->data) ? SECRET_ITEM(items->data) : nullptr;
            if (item && secret_item_get_locked(item))
                return lookup->done({owner->store->failed("read", "it stayed locked, so Kestrel starts signed out"), std::nullopt});
            SecretValue* value = item ? secret_item_get_secret(item) : nullptr;
            const gchar* text = value ? secret_value_get_text(value) : nullptr;
            std::optional<std::string> secret = text ? std::optional<std::string>(text) : std::nullopt;
            if (value) secret_value_unref(value);
            if (!secret) return lookup->done({owner->store->failed("read", "the keyring gave no text"), std::nullopt});
            lookup->done({secstatus::success, std::move(secret)});
        },
        lookup, "service", query.service.c_str(), "account", query.account.c_str(), nullptr);
}

SecStatus SecretServiceStore::failed(const char* operation, const std::string& reason) {
    // A missing or locked keyring fails every call alike: one line is enough to say why.
    if (logged_.insert(std::string(operation) + reason).second)
        current().log().write("Kestrel: the keyring could not " + std::string(operation) + " the session: " + reason);
    return secstatus::interactionNotAllowed;
}

SecCopyResult SecretServiceStore::copyMatching(const SecItemQuery& query) {
    if (!valid(query)) return {secstatus::param, std::nullopt};
    std::string data;
    auto found = lookup(query, &data);
    if (!found) return {failed("read", found.error()), std::nullopt};
    if (!*found) return {secstatus::itemNotFound, std::nullopt};
    return {secstatus::success, std::move(data)};
}

SecStatus SecretServiceStore::update(const SecItemQuery& query, const std::string& data) {
    if (!valid(query)) return secstatus::param;
    auto found = lookup(query, nullptr);
    if (!found) return failed("read", found.error());
    if (!*found) return secstatus::itemNotFound;
    return store(query, data);
}

SecStatus SecretServiceStore::add(const SecItemQuery& query, const std::string& data, SecAccessibility) {
    if (!valid(query)) return secstatus::param;
    auto found = lookup(query, nullptr);
    if (!found) return failed("read", found.error());
    if (*found) return secstatus::duplicateItem;
    return store(query, data);
}

SecStatus SecretServiceStore::store(const SecItemQuery& query, const std::string& data) {
    // The Secret Service holds a secret as text; the session is JSON, so UTF-8 is all we store.
    if (!g_utf8_validate(data.data(), static_cast<gssize>(data.size()), nullptr)) return secstatus::param;
    GError* raw = nullptr;
    std::string label = "Kestrel " + query.account;
    // Storing replaces the item with the same attributes.
    gboolean stored = secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), data.c_str(),
                                                 nullptr, &raw, "service", query.service.c_str(), "account",
                                                 query.account.c_str(), nullptr);
    GErrorPtr error(raw);
    if (!stored) return failed("store", describe(error.get()));
    return secstatus::success;
}

SecStatus SecretServiceStore::remove(const SecItemQuery& query) {
    if (!valid(query)) return secstatus::param;
    GError* raw = nullptr;
    gboolean removed = secret_password_clear_sync(schema(), nullptr, &raw, "service", query.service.c_str(),
                                                  "account", query.account.c_str(), nullptr);
    GErrorPtr error(raw);
    if (error) return failed("delete", describe(error.get()));
    return removed ? secstatus::success : secstatus::itemNotFound;
}

}  // namespace desktop::x11
