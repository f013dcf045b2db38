// URL loading: one blocking call that sends a request and answers the response or a transport
// error. Called on the executor, never on the main thread; any number of threads at once.
// Owned by the Desktop; the real implementation is CurlHttp, the recording one for tests LoopbackHttp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace desktop {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// The first value of a header, names compared case-insensitively.
std::optional<std::string> headerValue(const HttpHeaders& headers, std::string_view name);

struct HttpRequest {
    std::string method = "GET";
    std::string url{};
    HttpHeaders headers{};  // sent in this order
    std::optional<std::string> body{};
    // The whole exchange, connecting and redirects included.
    double timeoutSeconds = 60;

    bool operator==(const HttpRequest&) const = default;
};

struct HttpResponse {
    // The HTTP status; 0 when the peer answered with bytes that are not an HTTP response
    // (no status line), which is an answer and not a transport error.
    int64_t status = 0;
    HttpHeaders headers;
    std::string body;
    std::string url;  // where the answer came from, after redirects

    bool operator==(const HttpResponse&) const = default;
};

// No HTTP answer was received (or it was refused before being read whole).
struct TransportError {
    enum class Kind {
        offline,           // the host may not be reached from here
        invalidUrl,        // not an absolute http(s) URL
        cannotFindHost,    // name resolution failed
        cannotConnect,     // refused or unreachable
        timedOut,          // the request's time ran out
        connectionLost,    // the peer closed or reset without (a whole) answer
        secureConnection,  // TLS failed: handshake, certificate, host name
        tooManyRedirects,  // more than five redirects
        responseTooLarge,  // the body passed the cap
        cancelled,         // the transport was shut down (the application is quitting)
        other,
    };
    Kind kind = Kind::other;
    std::string message;  // the description shown to the person

    bool operator==(const TransportError&) const = default;
};

// The error of that kind with its standard description.
TransportError transportError(TransportError::Kind kind);

using HttpResult = std::expected<HttpResponse, TransportError>;

class Http {
public:
    // Bodies larger than this are refused as responseTooLarge.
    static constexpr size_t kMaxResponseBytes = 8 * 1024 * 1024;
    // Redirects followed per request, as the platform's URL loading does.
    static constexpr int kMaxRedirects = 5;

    virtual ~Http() = default;
    virtual HttpResult send(const HttpRequest& request) = 0;
    // Ends every request in flight at once and every later one before it is sent, with a
    // `cancelled` error, so that quitting never waits for a server. Any thread; for good.
    virtual void shutDown() = 0;
};

}  // namespace desktop
