// Launch at login for this application. Main thread only.
#pragma once

#include <expected>
#include <string>

namespace desktop {

class LoginItems {
public:
    enum class Status { notRegistered, enabled, requiresApproval, notFound };
    virtual ~LoginItems() = default;
    virtual Status status() const = 0;
    // On failure, the system's description of why.
    virtual std::expected<void, std::string> registerApp() = 0;
    virtual std::expected<void, std::string> unregisterApp() = 0;
};

}  // namespace desktop
