#include "Desktop/Url.h"

#include <algorithm>
#include <cctype>

namespace desktop {

namespace {
bool isUrlChar(unsigned char c) {
    if (std::isalnum(c)) return true;
    return std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(static_cast<char>(c)) !=
           std::string_view::npos;
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool validPercentEscapes(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') continue;
        if (i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(s[i + 2])))
            return false;
    }
    return true;
}
}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) {
            return isUrlChar(static_cast<unsigned char>(c));
        }))
        return std::nullopt;
    if (!validPercentEscapes(text)) return std::nullopt;
    auto colon = text.find("://");
    if (colon == std::string_view::npos) return std::nullopt;
    Url url;
    url.text = std::string(text);
    url.scheme = lower(text.substr(0, colon));
    if (url.scheme != "http" && url.scheme != "https") return std::nullopt;
    auto rest = text.substr(colon + 3);
    auto authorityEnd = rest.find_first_of("/?#");
    auto authority = rest.substr(0, authorityEnd);
    url.path = authorityEnd == std::string_view::npos ? "" : std::string(rest.substr(authorityEnd));
    if (auto at = authority.rfind('@'); at != std::string_view::npos) authority = authority.substr(at + 1);
    std::string_view hostPart = authority, portPart;
    if (authority.starts_with('[')) {
        auto close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        hostPart = authority.substr(1, close - 1);
        auto after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return std::nullopt;
            portPart = after.substr(1);
        }
    } else if (auto c = authority.rfind(':'); c != std::string_view::npos) {
        hostPart = authority.substr(0, c);
        portPart = authority.substr(c + 1);
    }
    if (hostPart.empty()) return std::nullopt;
    url.host = lower(hostPart);
    if (!portPart.empty()) {
        if (portPart.size() > 5 || !std::all_of(portPart.begin(), portPart.end(), ::isdigit))
            return std::nullopt;
        int port = std::stoi(std::string(portPart));
        if (port > 65535) return std::nullopt;
        url.port = port;
    }
    return url;
}

bool Url::isLoopback() const {
    if (host == "localhost" || host == "::1") return true;
    // 127.0.0.0/8, written as a dotted quad.
    if (!host.starts_with("127.")) return false;
    int parts = 0;
    size_t start = 0;
    while (start <= host.size()) {
        auto dot = host.find('.', start);
        auto part = host.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), ::isdigit) ||
            std::stoi(part) > 255)
            return false;
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}

}  // namespace desktop
