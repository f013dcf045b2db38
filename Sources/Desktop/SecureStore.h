// Keychain items: copy, update, add and delete generic-password items, answering the status codes
// of the system's keychain functions. Main thread only. Owned by the Desktop.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace desktop {

// A keychain status code (OSStatus).
using SecStatus = int32_t;

namespace secstatus {
inline constexpr SecStatus success = 0;                // errSecSuccess
inline constexpr SecStatus param = -50;                // errSecParam
inline constexpr SecStatus duplicateItem = -25299;     // errSecDuplicateItem
inline constexpr SecStatus itemNotFound = -25300;      // errSecItemNotFound
inline constexpr SecStatus interactionNotAllowed = -25308;  // errSecInteractionNotAllowed
inline constexpr SecStatus ioError = -36;              // errSecIO
}  // namespace secstatus

enum class SecItemClass { genericPassword };

enum class SecAccessibility {
    whenUnlocked,
    afterFirstUnlock,
    afterFirstUnlockThisDeviceOnly,
};

// The identifying attributes of one item.
struct SecItemQuery {
    SecItemClass itemClass = SecItemClass::genericPassword;
    std::string service;
    std::string account;
    bool operator==(const SecItemQuery&) const = default;
};

struct SecCopyResult {
    SecStatus status = secstatus::itemNotFound;
    std::optional<std::string> data;  // the item's data (bytes) on success
};

class SecureStore {
public:
    virtual ~SecureStore() = default;
    // At most one match, asking for its data.
    virtual SecCopyResult copyMatching(const SecItemQuery& query) = 0;
    // The same, answered on the main thread once the store answers: later where it may wait on a
    // locked keyring or its prompt, at once where it cannot. Nothing is answered after the store
    // is gone.
    virtual void copyMatchingLater(const SecItemQuery& query, std::function<void(SecCopyResult)> done) {
        done(copyMatching(query));
    }
    // itemNotFound when no item matches.
    virtual SecStatus update(const SecItemQuery& query, const std::string& data) = 0;
    // duplicateItem when one already matches.
    virtual SecStatus add(const SecItemQuery& query, const std::string& data,
                          SecAccessibility accessibility) = 0;
    // itemNotFound when no item matches.
    virtual SecStatus remove(const SecItemQuery& query) = 0;
};

}  // namespace desktop
