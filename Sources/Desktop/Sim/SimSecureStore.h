// The simulated keychain: generic-password items in memory with the keychain's status codes;
// with a file (the console's state directory), loaded at start and rewritten, owner-only (0600),
// on every change; a file that cannot be read is moved aside, never overwritten. Driver verbs
// plant items and make the next call of an operation fail. Main thread only.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Desktop/SecureStore.h"
#include "Desktop/StateFile.h"

namespace desktop::sim {

class SimSecureStore final : public SecureStore {
public:
    struct Item {
        SecItemQuery query;
        std::string data;
        SecAccessibility accessibility = SecAccessibility::whenUnlocked;
        bool operator==(const Item&) const = default;
    };
    enum class Operation { copy, update, add, remove };

    explicit SimSecureStore(std::optional<std::filesystem::path> file = std::nullopt,
                            statefile::Report report = {});

    SecCopyResult copyMatching(const SecItemQuery& query) override;
    SecStatus update(const SecItemQuery& query, const std::string& data) override;
    SecStatus add(const SecItemQuery& query, const std::string& data,
                  SecAccessibility accessibility) override;
    SecStatus remove(const SecItemQuery& query) override;

    // Driver verbs.
    std::vector<Item> items() const;
    std::optional<Item> item(const SecItemQuery& query) const;
    // Writes an item directly, as another program (or a damaged disk) would.
    void plant(const SecItemQuery& query, std::string data,
               SecAccessibility accessibility = SecAccessibility::afterFirstUnlockThisDeviceOnly);
    // The next call of `operation` answers `status` and changes nothing.
    void failNext(Operation operation, SecStatus status);

private:
    using Key = std::tuple<int, std::string, std::string>;
    static Key keyOf(const SecItemQuery& query);
    std::optional<SecStatus> takeFailure(Operation operation);
    void load(const statefile::Report& report);
    void persist() const;

    std::map<Key, Item> items_;
    std::map<Operation, SecStatus> failures_;
    std::optional<std::filesystem::path> file_;
};

}  // namespace desktop::sim
