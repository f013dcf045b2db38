#include "Kestrel/Analytics.h"

#include <array>
#include <chrono>
#include <ctime>
#include <random>
#include <string_view>

#include "Desktop/Desktop.h"
#include "Desktop/Unicode.h"
#include "Kestrel/API.h"
#include "Kestrel/Config.h"

namespace kestrel::Analytics {

namespace {

using Json = nlohmann::json;

constexpr std::array<std::string_view, 21> kAllowedProps = {
    "platform", "channel", "method", "reason",  "rules",   "rule",       "level",
    "findings", "risks",   "warnings", "deep_check", "kind", "setting", "enabled",
    "from",     "site",    "depth",   "via",     "ai_limited", "previous_version", "step"};

desktop::Signal<const std::string&, const Json&>& trackSignal() {
    static desktop::Signal<const std::string&, const Json&> signal;
    return signal;
}

// Set by `backend dev`, for the desktop it was set on only.
struct Override {
    Endpoints endpoints;
    uint64_t desktop = 0;
};
std::optional<Override>& endpointOverride() {
    static std::optional<Override> value;
    return value;
}

bool isAllowed(const std::string& key) {
    return std::find(kAllowedProps.begin(), kAllowedProps.end(), key) != kAllowedProps.end();
}

std::string cut(const std::string& text) {
    return desktop::unicode::graphemePrefix(text, kMaxStringCharacters);
}

// A fresh random UUID as 32 lower-case hexadecimal digits without hyphens.
std::string insertId() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    uint64_t hi = generator(), lo = generator();
    hi = (hi & ~0xF000ULL) | 0x4000ULL;
    lo = (lo & ~0xC000000000000000ULL) | 0x8000000000000000ULL;
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(hi),
                  static_cast<unsigned long long>(lo));
    return text;
}

double secondsSince1970() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// ISO 8601 internet date-time in UTC without fractional seconds: 2026-01-31T09:15:00Z.
std::string isoNow() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Standard serialisation; text that is not UTF-8 fails it, and the event is dropped.
std::optional<std::string> serialize(const Json& value) {
    try {
        return value.dump();
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

// Every byte outside the ASCII letters and digits becomes %XX.
std::string percentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

// Fire and forget on the executor: the answer, its status and any failure are ignored.
void send(const std::string& url, std::string body, const char* contentType) {
    if (!desktop::Url::parse(url)) return;
    desktop::HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.timeoutSeconds = 60;
    request.headers.emplace_back("content-type", contentType);
    request.body = std::move(body);
    auto* desk = &desktop::current();
    desk->executor().post([desk, request = std::move(request)] { (void)desk->http().send(request); });
}

// Mixpanel's form encoding: "data=" and the percent-encoded JSON.
void post(const std::string& url, const Json& form) {
    auto text = serialize(form);
    if (!text) return;
    send(url, "data=" + percentEncode(*text), "application/x-www-form-urlencoded");
}

void sendJson(const std::string& url, const Json& payload) {
    auto text = serialize(payload);
    if (!text) return;
    send(url, std::move(*text), "application/json");
}

void toMixpanel(const Endpoints& to, const std::string& name, const std::string& distinctId,
                const std::string& deviceId, const std::optional<std::string>& userId, Json props) {
    if (to.mixpanelToken.empty()) return;
    props["token"] = to.mixpanelToken;
    props["distinct_id"] = distinctId;
    props["$device_id"] = deviceId;
    props["time"] = secondsSince1970();
    props["$insert_id"] = insertId();
    if (userId) props["$user_id"] = *userId;
    post(to.mixpanel + "/track?ip=1", Json::array({{{"event", name}, {"properties", std::move(props)}}}));
}

void toPostHog(const Endpoints& to, const std::string& name, const std::string& distinctId,
               Json props) {
    if (to.posthogKey.empty()) return;
    props["$process_person_profile"] = true;
    sendJson(to.posthog + "/i/v0/e/", {{"api_key", to.posthogKey},
                                       {"event", name},
                                       {"distinct_id", distinctId},
                                       {"properties", std::move(props)},
                                       {"timestamp", isoNow()}});
}

}  // namespace

Json keptProperties(const Json& properties) {
    Json kept = Json::object();
    if (!properties.is_object()) return kept;
    for (const auto& [key, value] : properties.items()) {
        if (!isAllowed(key)) continue;
        if (value.is_string()) {
            kept[key] = cut(value.get_ref<const std::string&>());
        } else if (value.is_number_integer() || value.is_boolean()) {
            kept[key] = value;
        } else if (value.is_array() &&
                   std::all_of(value.begin(), value.end(), [](const Json& v) { return v.is_string(); })) {
            Json list = Json::array();
            for (size_t i = 0; i < value.size() && i < kMaxListElements; ++i)
                list.push_back(cut(value[i].get_ref<const std::string&>()));
            kept[key] = std::move(list);
        }
        // Floating-point numbers, objects and null are dropped.
    }
    return kept;
}

void track(const std::string& name, const Json& properties) {
    auto api = KestrelAPI::shared();
    const auto& user = api->user();
    auto installId = Prefs::installID();

    Json props = {{"product", "kestrel"},     {"source", "macos"},
                  {"app_version", Config::version()}, {"install_id", installId},
                  {"signed_in", user.has_value()}, {"$os", "mac"}};
    if (user && user->plan) props["kestrel_plan"] = *user->plan;
    Json kept = keptProperties(properties);
    for (const auto& [key, value] : kept.items()) props[key] = value;

    trackSignal().emit(name, kept);

    auto to = endpoints();
    std::string sentName = "kestrel-" + name;
    std::optional<std::string> identity;
    if (user) identity = user->email;
    toMixpanel(to, sentName, identity ? *identity : "$device:" + installId, installId, identity, props);
    toPostHog(to, sentName, identity.value_or(installId), std::move(props));
}

void identify(const User& user, const std::string& method) {
    auto installId = Prefs::installID();
    auto to = endpoints();
    Json profile = {{"$email", user.email},
                    {"kestrel_user", true},
                    {"kestrel_plan", user.plan.value_or("free")},
                    {"kestrel_install_id", installId},
                    {"kestrel_sign_in_method", method},
                    {"kestrel_mac_version", Config::version()},
                    {"kestrel_last_seen", isoNow()}};
    if (user.name) profile["$name"] = *user.name;
    if (!to.mixpanelToken.empty()) {
        post(to.mixpanel + "/engage?ip=1",
             Json::array({{{"$token", to.mixpanelToken},
                           {"$distinct_id", user.email},
                           {"$set", profile}}}));
    }
    if (!to.posthogKey.empty()) {
        sendJson(to.posthog + "/i/v0/e/",
                 {{"api_key", to.posthogKey},
                  {"event", "$identify"},
                  {"distinct_id", user.email},
                  {"properties", {{"$anon_distinct_id", installId}, {"$set", profile}}},
                  {"timestamp", isoNow()}});
    }
    track("Signed In", {{"method", method}});
}

desktop::Subscription observeTracks(TrackObserver observer) {
    return trackSignal().connect(std::move(observer));
}

void setEndpoints(std::optional<Endpoints> endpoints) {
    if (!endpoints) {
        endpointOverride().reset();
        return;
    }
    endpointOverride() = Override{std::move(*endpoints), desktop::current().serial()};
}

Endpoints endpoints() {
    auto& override = endpointOverride();
    if (override && override->desktop == desktop::current().serial()) return override->endpoints;
    return Endpoints{};
}

}  // namespace kestrel::Analytics
