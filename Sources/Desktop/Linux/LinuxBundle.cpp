#include "Desktop/Linux/LinuxBundle.h"

namespace desktop::x11 {

LinuxBundle::LinuxBundle(std::string identifier, std::string version,
                         std::optional<std::filesystem::path> resources)
    : identifier_(std::move(identifier)), version_(std::move(version)), resources_(std::move(resources)) {}

std::optional<nlohmann::json> LinuxBundle::infoValue(const std::string& key) const {
    if (key == "CFBundleIdentifier") return identifier_;
    if (key == "CFBundleShortVersionString") return version_;
    return std::nullopt;
}

}  // namespace desktop::x11
