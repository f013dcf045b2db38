#include "Kestrel/Keychain.h"

#include "Desktop/Desktop.h"

namespace kestrel::Keychain {

desktop::SecItemQuery itemQuery() {
    return {desktop::SecItemClass::genericPassword, kService, kAccount};
}

std::optional<std::string> load() {
    auto result = desktop::current().secureStore().copyMatching(itemQuery());
    if (result.status != desktop::secstatus::success) return std::nullopt;
    return result.data;
}

void loadLater(std::function<void(std::optional<std::string>)> done) {
    desktop::current().secureStore().copyMatchingLater(itemQuery(), [done = std::move(done)](desktop::SecCopyResult result) {
        done(result.status == desktop::secstatus::success ? std::move(result.data) : std::nullopt);
    });
}

void save(const std::string& data) {
    auto& store = desktop::current().secureStore();
    if (store.update(itemQuery(), data) == desktop::secstatus::itemNotFound) {
        store.add(itemQuery(), data, desktop::SecAccessibility::afterFirstUnlockThisDeviceOnly);
    }
}

void remove() { desktop::current().secureStore().remove(itemQuery()); }

}  // namespace kestrel::Keychain
