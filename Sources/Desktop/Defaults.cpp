#include "Desktop/Defaults.h"

namespace desktop {

namespace {
template <class T>
std::optional<T> typed(const Defaults& d, std::string_view key) {
    auto value = d.object(key);
    if (!value) return std::nullopt;
    if (auto* v = std::get_if<T>(&*value)) return *v;
    return std::nullopt;
}
}  // namespace

std::optional<std::string> Defaults::string(std::string_view key) const {
    return typed<std::string>(*this, key);
}
std::optional<bool> Defaults::boolean(std::string_view key) const {
    return typed<bool>(*this, key);
}
std::optional<int64_t> Defaults::integer(std::string_view key) const {
    return typed<int64_t>(*this, key);
}
std::optional<double> Defaults::number(std::string_view key) const {
    if (auto i = typed<int64_t>(*this, key)) return static_cast<double>(*i);
    return typed<double>(*this, key);
}
std::optional<std::vector<std::string>> Defaults::stringArray(std::string_view key) const {
    return typed<std::vector<std::string>>(*this, key);
}

}  // namespace desktop
