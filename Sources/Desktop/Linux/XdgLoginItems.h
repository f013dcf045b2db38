// Launch at login as an XDG autostart entry: $XDG_CONFIG_HOME/autostart/<id>.desktop that starts
// the installed program. The entry is written to a temporary file and renamed into place, so a
// session starting meanwhile sees the whole entry or none. Main thread only. Owned by the Linux
// desktop.
#pragma once

#include <filesystem>
#include <string>

#include "Desktop/LoginItems.h"

namespace desktop::x11 {

class XdgLoginItems final : public LoginItems {
public:
    XdgLoginItems(std::string applicationId, std::filesystem::path executable);

    // Enabled while our entry is there and not hidden.
    Status status() const override;
    std::expected<void, std::string> registerApp() override;
    // Removing an entry that is not there succeeds.
    std::expected<void, std::string> unregisterApp() override;

    std::filesystem::path entryPath() const;
    // The entry's text.
    std::string entry() const;

private:
    std::string applicationId_;
    std::filesystem::path executable_;
};

}  // namespace desktop::x11
