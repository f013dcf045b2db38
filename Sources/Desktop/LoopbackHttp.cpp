#include "Desktop/LoopbackHttp.h"

#include <algorithm>

namespace desktop {

LoopbackHttp::LoopbackHttp()
    : real_(CurlHttp::Options{.mayVisit = [](const Url& url) { return url.isLoopback(); }}) {}

HttpResult LoopbackHttp::send(const HttpRequest& request) {
    LocalService local;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        for (const auto& [base, service] : local_) {
            auto rest = std::string_view(request.url).substr(std::min(base.size(), request.url.size()));
            bool under = request.url.starts_with(base) &&
                         (rest.empty() || rest.front() == '/' || rest.front() == '?');
            if (under) local = service;
        }
    }
    auto url = Url::parse(request.url);
    if (url && !url->isLoopback())
        return std::unexpected(transportError(TransportError::Kind::offline));
    if (local) return local(request);
    return real_.send(request);
}

void LoopbackHttp::serveLocally(const std::string& base, LocalService service) {
    std::lock_guard lock(mutex_);
    if (service) local_[base] = std::move(service);
    else local_.erase(base);
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
