#include "Desktop/Sim/SimHttp.h"

namespace desktop::sim {

SimHttp::SimHttp()
    : real_(CurlHttp::Options{.mayVisit = [](const Url& url) { return url.isLoopback(); }}) {}

HttpResult SimHttp::send(const HttpRequest& request) {
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    auto url = Url::parse(request.url);
    if (url && !url->isLoopback())
        return std::unexpected(transportError(TransportError::Kind::offline));
    return real_.send(request);
}

std::vector<HttpRequest> SimHttp::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<HttpRequest> SimHttp::requestsTo(std::string_view prefix) const {
    std::lock_guard lock(mutex_);
    std::vector<HttpRequest> out;
    for (const auto& r : requests_) {
        if (r.url.starts_with(prefix)) out.push_back(r);
    }
    return out;
}

void SimHttp::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

}  // namespace desktop::sim
