// The main bundle: identifier, information values and resource directory. Any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace desktop {

class Bundle {
public:
    virtual ~Bundle() = default;
    virtual std::string identifier() const = 0;
    // A value of the information dictionary ("CFBundleShortVersionString"), any JSON type.
    virtual std::optional<nlohmann::json> infoValue(const std::string& key) const = 0;
    virtual std::optional<std::filesystem::path> resourceDirectory() const = 0;
};

}  // namespace desktop
