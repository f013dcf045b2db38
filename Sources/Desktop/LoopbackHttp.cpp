#include "Desktop/LoopbackHttp.h"

namespace desktop {

LoopbackHttp::LoopbackHttp()
    : real_(CurlHttp::Options{.mayVisit = [](const Url& url) { return url.isLoopback(); }}) {}

HttpResult LoopbackHttp::send(const HttpRequest& request) {
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    auto url = Url::parse(request.url);
    if (url && !url->isLoopback())
        return std::unexpected(transportError(TransportError::Kind::offline));
    return real_.send(request);
}

std::vector<HttpRequest> LoopbackHttp::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<HttpRequest> LoopbackHttp::requestsTo(std::string_view prefix) const {
    std::lock_guard lock(mutex_);
    std::vector<HttpRequest> out;
    for (const auto& r : requests_) {
        if (r.url.starts_with(prefix)) out.push_back(r);
    }
    return out;
}

void LoopbackHttp::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

}  // namespace desktop
