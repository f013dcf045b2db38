// A recording transport for tests and simulations: records every request and forwards only loopback hosts
// (127.0.0.0/8, localhost, ::1) to the real transport, redirects included; any other host answers
// at once with an offline error, so nothing leaves the machine. A loopback address may instead be
// served inside this process. Any thread.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Desktop/CurlHttp.h"

namespace desktop {

class LoopbackHttp final : public Http {
public:
    LoopbackHttp();

    HttpResult send(const HttpRequest& request) override;
    void shutDown() override { real_.shutDown(); }

    // Driver verbs: the requests as the application made them, in the order they were sent.
    std::vector<HttpRequest> requests() const;
    // Those whose URL begins with `prefix`.
    std::vector<HttpRequest> requestsTo(std::string_view prefix) const;
    void clearRequests();
    // Requests whose URL begins with the loopback address `base` ("http://127.0.0.1:8787") are
    // answered by `service` on the calling thread from now on; no service stops that.
    using LocalService = std::function<HttpResponse(const HttpRequest&)>;
    void serveLocally(const std::string& base, LocalService service);
    // Tests only: cuts every request's time (the "server never answers" case).
    void setTimeoutLimit(std::optional<double> seconds) { real_.setTimeoutLimit(seconds); }

private:
    mutable std::mutex mutex_;
    std::vector<HttpRequest> requests_;
    std::map<std::string, LocalService> local_;
    CurlHttp real_;
};

}  // namespace desktop
