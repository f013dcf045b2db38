#include "Desktop/Http.h"

#include <algorithm>
#include <cctype>

namespace desktop {

std::optional<std::string> headerValue(const HttpHeaders& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (std::ranges::equal(key, name, [](unsigned char a, unsigned char b) {
                return std::tolower(a) == std::tolower(b);
            }))
            return value;
    }
    return std::nullopt;
}

TransportError transportError(TransportError::Kind kind) {
    using K = TransportError::Kind;
    switch (kind) {
        case K::offline: return {kind, "The Internet connection appears to be offline."};
        case K::invalidUrl: return {kind, "unsupported URL"};
        case K::cannotFindHost:
            return {kind, "A server with the specified hostname could not be found."};
        case K::cannotConnect: return {kind, "Could not connect to the server."};
        case K::timedOut: return {kind, "The request timed out."};
        case K::connectionLost: return {kind, "The network connection was lost."};
        case K::secureConnection:
            return {kind,
                    "An SSL error has occurred and a secure connection to the server cannot be made."};
        case K::tooManyRedirects: return {kind, "too many HTTP redirects"};
        case K::responseTooLarge: return {kind, "The server's answer was too large."};
        case K::cancelled: return {kind, "cancelled"};
        case K::other: break;
    }
    return {K::other, "The request could not be completed."};
}

}  // namespace desktop
