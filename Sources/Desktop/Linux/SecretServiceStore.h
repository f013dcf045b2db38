// Keychain items in the desktop's Secret Service (gnome-keyring, KWallet, KeePassXC) through
// libsecret: one item per service and account, the data stored as the secret, answering the
// status codes the application expects. No keyring daemon, a locked keyring or a refused prompt
// is a failure of the call, logged once per kind, never a crash.
// Main thread only; every call but copyMatchingLater is a bounded synchronous D-Bus round trip,
// which waits on the main loop instead. Owned by the Linux desktop.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "Desktop/SecureStore.h"

namespace desktop::x11 {

class SecretServiceStore final : public SecureStore {
public:
    SecretServiceStore();
    ~SecretServiceStore() override;
    SecCopyResult copyMatching(const SecItemQuery& query) override;
    void copyMatchingLater(const SecItemQuery& query, std::function<void(SecCopyResult)> done) override;
    SecStatus update(const SecItemQuery& query, const std::string& data) override;
    SecStatus add(const SecItemQuery& query, const std::string& data, SecAccessibility accessibility) override;
    SecStatus remove(const SecItemQuery& query) override;

private:
    SecStatus store(const SecItemQuery& query, const std::string& data);
    SecStatus failed(const char* operation, const std::string& reason);
    std::set<std::string> logged_;
    // Cancels the lookups still waiting when the store goes.
    struct Pending;
    struct Lookup;
    std::shared_ptr<Pending> pending_;
};

}  // namespace desktop::x11
