// Product events and user profiles for Mixpanel and PostHog. Callers name an event and hand over
// a few properties; the common ones are added, only allowed keys with bounded values are kept,
// and one request per service is fired on the executor without waiting for an answer.
// Main thread. No state beyond the observers and the endpoints.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Desktop/Observable.h"

namespace kestrel {
struct User;
}

namespace kestrel::Analytics {

// Built-in deployment values: placeholders of the services' documented shapes.
inline constexpr const char* kMixpanelToken = "0f3c9a2e7b514d8a96c3e1f0b2d47a58";
inline constexpr const char* kPostHogKey = "phc_Qm7Lr2Xe9TbV4nKc8WpZ1sHd6YfJ3uGa5oNi0EwRtBy";
inline constexpr const char* kMixpanelEndpoint = "https://api.mixpanel.com";
inline constexpr const char* kPostHogEndpoint = "https://us.i.posthog.com";

// Property values leaving the machine are bounded: strings to this many user-perceived
// characters, string lists to this many elements.
inline constexpr size_t kMaxStringCharacters = 80;
inline constexpr size_t kMaxListElements = 20;

void track(const std::string& name, const nlohmann::json& properties = nlohmann::json::object());
// The signed-in user's profile, then "Signed In" with the method ("email_code" or "dev").
void identify(const User& user, const std::string& method);

// Tests and the scenario runner observe every track call synchronously, with the properties as
// kept after the allowed-keys filter and bounds.
using TrackObserver = std::function<void(const std::string& name, const nlohmann::json& kept)>;
[[nodiscard]] desktop::Subscription observeTracks(TrackObserver observer);

// Where the two services are reached. The scenario command `backend dev` points both at the
// local stand-in; otherwise the built-in endpoints, token and key are used.
struct Endpoints {
    std::string mixpanel = kMixpanelEndpoint;
    std::string posthog = kPostHogEndpoint;
    std::string mixpanelToken = kMixpanelToken;
    std::string posthogKey = kPostHogKey;
};
void setEndpoints(std::optional<Endpoints> endpoints);
Endpoints endpoints();

// The caller's properties as they would leave the machine: allowed keys only, values bounded,
// other types dropped.
nlohmann::json keptProperties(const nlohmann::json& properties);

}  // namespace kestrel::Analytics
