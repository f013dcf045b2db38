// The application's standard user defaults: typed values by key. Main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace desktop {

using DefaultValue = std::variant<std::string, bool, int64_t, double, std::vector<std::string>>;

class Defaults {
public:
    virtual ~Defaults() = default;
    virtual std::optional<DefaultValue> object(std::string_view key) const = 0;
    virtual void set(std::string_view key, DefaultValue value) = 0;
    virtual void remove(std::string_view key) = 0;

    // Typed reads answer a value only when one of that type is stored.
    std::optional<std::string> string(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<int64_t> integer(std::string_view key) const;
    std::optional<double> number(std::string_view key) const;
    std::optional<std::vector<std::string>> stringArray(std::string_view key) const;
};

}  // namespace desktop
