// The main bundle of the installed program: its application id, the version it was built as,
// and the resource directory beside the program (<prefix>/share/kestrel). Any thread.
#pragma once

#include "Desktop/Bundle.h"

namespace desktop::x11 {

class LinuxBundle final : public Bundle {
public:
    LinuxBundle(std::string identifier, std::string version, std::optional<std::filesystem::path> resources);

    std::string identifier() const override { return identifier_; }
    // "CFBundleIdentifier" and "CFBundleShortVersionString"; nothing else is known.
    std::optional<nlohmann::json> infoValue(const std::string& key) const override;
    std::optional<std::filesystem::path> resourceDirectory() const override { return resources_; }

private:
    std::string identifier_;
    std::string version_;
    std::optional<std::filesystem::path> resources_;
};

}  // namespace desktop::x11
