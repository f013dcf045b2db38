// Keychain items in the desktop's Secret Service (gnome-keyring, KWallet, KeePassXC) through
// libsecret: one item per service and account, the data stored as the secret, answering the
// status codes the application expects. No keyring daemon, a locked keyring or a refused prompt
// is a failure of the call, logged once per kind, never a crash.
// Main thread only; every call is a bounded synchronous D-Bus round trip. Owned by the Linux desktop.
#pragma once

#include <set>
#include <string>

#include "Desktop/SecureStore.h"

namespace desktop::x11 {

class SecretServiceStore final : public SecureStore {
public:
    SecCopyResult copyMatching(const SecItemQuery& query) override;
    SecStatus update(const SecItemQuery& query, const std::string& data) override;
    SecStatus add(const SecItemQuery& query, const std::string& data, SecAccessibility accessibility) override;
    SecStatus remove(const SecItemQuery& query) override;

private:
    SecStatus store(const SecItemQuery& query, const std::string& data);
    SecStatus failed(const char* operation, const std::string& reason);
    std::set<std::string> logged_;
};

}  // namespace desktop::x11
