// The real HTTP transport, over libcurl: one reused easy handle per calling thread (connections
// stay alive between calls), TLS verification always on with the system's CA bundle, proxies from
// the environment except for loopback hosts, at most five redirects followed here so that the
// authorization header never reaches another origin. Any thread; the executor in practice.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "Desktop/Http.h"
#include "Desktop/Url.h"

namespace desktop {

class CurlHttp final : public Http {
public:
    struct Options {
        // libcurl's own default is 300 s; the request's timeout caps it further.
        double connectTimeoutSeconds = 10;
        size_t maxResponseBytes = kMaxResponseBytes;
        // Asked for the first URL and for every redirect target; a refused one ends the request
        // with an offline error. None allows every host.
        std::function<bool(const Url&)> mayVisit{};
    };

    // libcurl's global initialisation, once per process, before any thread uses it; also makes
    // SIGPIPE ignored, which libcurl needs with CURLOPT_NOSIGNAL. A static initialiser of this
    // unit calls it before main, so before any thread starts; calling it again does nothing.
    static void globalInit();

    CurlHttp();
    explicit CurlHttp(Options options);
    ~CurlHttp() override;

    HttpResult send(const HttpRequest& request) override;
    void shutDown() override;

    // Tests only: every request's time is cut to at most this many seconds (none: no limit).
    void setTimeoutLimit(std::optional<double> seconds);

private:
    // The transfers in flight, which shutDown() ends.
    struct InFlight;

    Options options_;
    std::atomic<double> timeoutLimit_{0};  // 0: no limit
    std::unique_ptr<InFlight> inFlight_;
};

}  // namespace desktop
