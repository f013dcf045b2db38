// An absolute http(s) URL, parsed strictly enough to refuse text that is not one. Plain value.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace desktop {

struct Url {
    std::string text;    // the whole URL as given
    std::string scheme;  // lower case
    std::string host;    // lower case, without brackets for IPv6
    std::optional<int> port;
    std::string path;  // from the first "/" after the authority, query and fragment included

    static std::optional<Url> parse(std::string_view text);
    bool isLoopback() const;
    bool operator==(const Url& other) const { return text == other.text; }
};

}  // namespace desktop
