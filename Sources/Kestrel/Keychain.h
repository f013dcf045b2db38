// The one keychain item that keeps the session between runs (a generic password holding the
// stored-session JSON). No failure is reported. Main thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "Desktop/SecureStore.h"

namespace kestrel::Keychain {

inline constexpr const char* kService = "com.getkestrel.mac";
inline constexpr const char* kAccount = "session";

// class, service and account of the item
desktop::SecItemQuery itemQuery();

// The item's data, or nothing (no item, any error).
std::optional<std::string> load();
// The same, told to `done` once the store answers (a locked keyring may keep it waiting).
void loadLater(std::function<void(std::optional<std::string>)> done);
// Updates the item, or adds it when there is none (owner-device only, after first unlock).
void save(const std::string& data);
// Deletes the item.
void remove();

}  // namespace kestrel::Keychain
