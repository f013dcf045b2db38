#include "DevServer/DevBackend.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "Desktop/Json.h"

namespace kestrel::devserver {

using Json = nlohmann::json;

namespace {

uint64_t fnv1a(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string hex(uint64_t value, int digits) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return std::string(text + 16 - digits);
}

std::string json(const Json& value) { return desktop::json::dump(value); }

// Form decoding: "+" is a space, "%XX" a byte.
std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] == '%' && i + 2 < text.size() && value(text[i + 1]) >= 0 &&
                   value(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(value(text[i + 1]) * 16 + value(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool plausibleEmail(const std::string& email) {
    auto at = email.find('@');
    return at != std::string::npos && at > 0 && at + 1 < email.size() &&
           email.find('@', at + 1) == std::string::npos &&
           std::none_of(email.begin(), email.end(),
                        [](unsigned char c) { return std::isspace(c) || std::iscntrl(c); });
}

std::optional<std::string> stringField(const Json& body, const char* key) {
    if (!body.is_object()) return std::nullopt;
    auto it = body.find(key);
    if (it == body.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

// Phrases that give machine-written text away, with a plainer word for the rewrite.
struct Tell {
    const char* phrase;
    const char* plain;
};
constexpr Tell kTells[] = {
    {"i hope this email finds you well", "I hope you are well"},
    {"in today's fast-paced world", "today"},
    {"delve into", "look at"},
    {"tapestry", "mix"},
    {"leverage", "use"},
    {"utilize", "use"},
    {"seamless", "smooth"},
    {"game-changer", "big help"},
};

std::string replaceAllIgnoringCase(std::string text, std::string_view phrase, std::string_view by) {
    std::string lowered = lower(text);
    std::string out;
    size_t from = 0;
    for (size_t at; (at = lowered.find(phrase, from)) != std::string::npos; from = at + phrase.size()) {
        out.append(text, from, at - from);
        out.append(by);
    }
    out.append(text, from, std::string::npos);
    return out;
}

std::vector<std::string> sentences(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if ((c == '.' || c == '!' || c == '?') && (i + 1 == text.size() || text[i + 1] == ' ' || text[i + 1] == '\n')) {
            out.push_back(text.substr(start, i + 1 - start));
            start = i + 1;
        }
    }
    if (start < text.size()) out.push_back(text.substr(start));
    return out;
}

std::string trimAscii(std::string s) {
    auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

DevBackend::DevBackend(Announce announce) : announce_(std::move(announce)) {}

DevBackend::~DevBackend() = default;

std::string DevBackend::codeFor(std::string_view email) {
    char text[8];
    std::snprintf(text, sizeof text, "%06llu",
                  static_cast<unsigned long long>(fnv1a(lower(email)) % 1000000));
    return text;
}

void DevBackend::reply(const std::string& path, int status, std::string body, std::string contentType) {
    std::lock_guard lock(mutex_);
    replies_[path] = Answer{status, std::move(body), std::move(contentType)};
}

void DevBackend::clearReply(const std::string& path) {
    std::lock_guard lock(mutex_);
    replies_.erase(path);
}

std::vector<RecordedRequest> DevBackend::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<RecordedRequest> DevBackend::requests(std::string_view path) const {
    std::lock_guard lock(mutex_);
    std::vector<RecordedRequest> out;
    for (const auto& r : requests_) {
        if (r.path == path) out.push_back(r);
    }
    return out;
}

void DevBackend::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

std::vector<Json> DevBackend::mixpanelEvents() const {
    std::lock_guard lock(mutex_);
    return mixpanelEvents_;
}

std::vector<Json> DevBackend::mixpanelProfiles() const {
    std::lock_guard lock(mutex_);
    return mixpanelProfiles_;
}

std::vector<Json> DevBackend::posthogEvents() const {
    std::lock_guard lock(mutex_);
    return posthogEvents_;
}

DevBackend::Answer DevBackend::answer(RecordedRequest recorded) {
    std::optional<std::string> line;
    Answer answer;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(recorded);
        if (auto canned = replies_.find(recorded.path); canned != replies_.end()) {
            answer = canned->second;
        } else {
            answer = route(recorded);
            if (recorded.path == kEmailStart && answer.status == 200) {
                auto email = stringField(desktop::json::parse(recorded.body).value_or(Json()), "email");
                if (email) line = "sign-in code for " + *email + ": " + codeFor(*email);
            }
        }
    }
    if (line && announce_) announce_(*line);
    return answer;
}

desktop::HttpResponse DevBackend::answer(const desktop::HttpRequest& request, std::string_view base) {
    RecordedRequest recorded;
    recorded.method = request.method;
    recorded.target = request.url.substr(std::min(base.size(), request.url.size()));
    if (recorded.target.empty()) recorded.target = "/";
    recorded.path = recorded.target.substr(0, recorded.target.find('?'));
    recorded.headers = request.headers;
    recorded.body = request.body.value_or("");
    auto reply = answer(std::move(recorded));
    return desktop::HttpResponse{.status = reply.status,
                                 .headers = {{"Content-Type", reply.contentType}},
                                 .body = std::move(reply.body),
                                 .url = request.url};
}

DevBackend::Answer DevBackend::route(const RecordedRequest& request) {
    const auto& path = request.path;
    if (path == kMixpanelTrack && request.method == "POST") return ingestMixpanel(request, mixpanelEvents_);
    if (path == kMixpanelEngage && request.method == "POST")
        return ingestMixpanel(request, mixpanelProfiles_);
    if (path == kPostHogCapture && request.method == "POST") return ingestPostHog(request);

    auto parsed = desktop::json::parse(request.body);
    Json body = parsed ? *parsed : Json();
    bool post = request.method == "POST";
    if (post && !body.is_object() &&
        (path == kEmailStart || path == kEmailVerify || path == kDevLogin || path == kScore ||
         path == kRewrite || path == kRules))
        return {400, json({{"message", "The request body is not a JSON object."}})};

    if (path == kAuthConfig && request.method == "GET")
        return {200, json({{"googleSignIn", false}, {"emailCode", true}, {"devLogin", true}})};
    if (path == kEmailStart && post) return startCode(body);
    if (path == kEmailVerify && post) return verifyCode(body);
    if (path == kDevLogin && post) return devLogin(body);
    if (path == kMe && request.method == "GET") return me(request);
    if (path == kScore && post) return score(request, body);
    if (path == kRewrite && post) return rewrite(request, body);
    if (path == kRules && (post || request.method == "GET")) return rules(request, body);
    return {404, json({{"message", "Not found"}})};
}

DevBackend::Answer DevBackend::ingestMixpanel(const RecordedRequest& request, std::vector<Json>& into) {
    std::string text = request.body;
    if (text.starts_with("data=")) text = percentDecode(std::string_view(text).substr(5));
    auto parsed = desktop::json::parse(text);
    if (!parsed || !parsed->is_array()) return {200, "0", "text/plain"};
    for (const auto& item : *parsed) into.push_back(item);
    return {200, "1", "text/plain"};
}

DevBackend::Answer DevBackend::ingestPostHog(const RecordedRequest& request) {
    auto parsed = desktop::json::parse(request.body);
    if (!parsed || !parsed->is_object()) return {400, json({{"error", "invalid payload"}})};
    posthogEvents_.push_back(*parsed);
    return {200, json({{"status", 1}})};
}

DevBackend::Account& DevBackend::accountFor(const std::string& email) {
    auto key = lower(email);
    auto it = accounts_.find(key);
    if (it != accounts_.end()) return it->second;
    auto local = key.substr(0, key.find('@'));
    std::string plan = local.find("+org") != std::string::npos   ? "org"
                       : local.find("+pro") != std::string::npos ? "pro"
                                                                 : "free";
    Account account;
    account.user = {{"userId", "usr_" + hex(fnv1a(key), 12)}, {"email", email}, {"plan", plan}};
    return accounts_.emplace(key, std::move(account)).first->second;
}

Json DevBackend::userJson(const Account& account) const {
    Json user = account.user;
    int64_t limit = user["plan"] == "free" ? kFreeChecks : kProChecks;
    user["usage"] = {{"aiChecksUsed", account.checksUsed},
                     {"aiChecksToday", account.checksUsed},
                     {"aiChecksLimit", limit}};
    return user;
}

DevBackend::Account* DevBackend::accountOf(const RecordedRequest& request) {
    auto authorization = request.header("authorization");
    if (!authorization || !authorization->starts_with("Bearer ")) return nullptr;
    auto it = sessions_.find(authorization->substr(7));
    if (it == sessions_.end()) return nullptr;
    return &accounts_.at(it->second);
}

DevBackend::Answer DevBackend::session(const std::string& email) {
    auto& account = accountFor(email);
    auto key = lower(email);
    auto issued = std::to_string(++sessionsIssued_);
    auto token = "kdev_" + hex(fnv1a(key + "#" + issued), 16) + hex(fnv1a(issued + "#" + key), 16);
    sessions_[token] = key;
    return {200, json({{"token", token}, {"user", userJson(account)}})};
}

DevBackend::Answer DevBackend::startCode(const Json& body) {
    auto email = stringField(body, "email");
    if (!email || !plausibleEmail(*email)) return {400, json({{"message", "Enter a valid email address."}})};
    codesSent_.insert(lower(*email));
    return {200, json({{"sent", true}})};
}

DevBackend::Answer DevBackend::verifyCode(const Json& body) {
    auto email = stringField(body, "email");
    auto code = stringField(body, "code");
    if (!email || !code) return {400, json({{"message", "Enter the e-mail address and the code."}})};
    if (!codesSent_.contains(lower(*email)))
        return {400, json({{"message", "No code was sent to this address. Ask for a new one."}})};
    if (trimAscii(*code) != codeFor(*email))
        return {400, json({{"message", "That code is not right. Check the e-mail and try again."}})};
    codesSent_.erase(lower(*email));
    return session(*email);
}

DevBackend::Answer DevBackend::devLogin(const Json& body) {
    auto email = stringField(body, "email");
    if (!email || !plausibleEmail(*email)) return {400, json({{"message", "Enter a valid email address."}})};
    return session(*email);
}

DevBackend::Answer DevBackend::me(const RecordedRequest& request) {
    auto* account = accountOf(request);
    if (!account) return {401, json({{"message", "Your session has ended. Sign in again."}})};
    return {200, json(userJson(*account))};
}

DevBackend::Answer DevBackend::score(const RecordedRequest& request, const Json& body) {
    auto* account = accountOf(request);
    if (!account) return {401, json({{"message", "Sign in to use AI checks."}})};
    auto text = stringField(body, "body");
    if (!text) return {400, json({{"message", "The draft is missing."}})};
    int64_t limit = account->user["plan"] == "free" ? kFreeChecks : kProChecks;
    if (account->checksUsed >= limit) return {200, json({{"aiLimited", true}})};
    ++account->checksUsed;

    std::string lowered = lower(*text);
    Json findings = Json::array();
    int tells = 0;
    for (const auto& tell : kTells) {
        auto at = lowered.find(tell.phrase);
        if (at == std::string::npos) continue;
        if (tells++ == 0) {
            findings.push_back({{"id", "slop"},
                                {"level", "warn"},
                                {"title", "Reads as AI-written"},
                                {"detail", std::string("\"") + tell.phrase +
                                               "\" is a common sign of machine-written text."},
                                {"original", text->substr(at, std::strlen(tell.phrase))},
                                {"suggestion", tell.plain}});
        }
    }
    if (std::count(text->begin(), text->end(), '!') >= 3) {
        findings.push_back({{"id", "voice"},
                            {"level", "warn"},
                            {"title", "Off-voice"},
                            {"detail", "More exclamation marks than you usually write."}});
    }
    return {200, json({{"voiceScore", std::max(0, 90 - 15 * tells)},
                       {"slopScore", std::min(100, 25 * tells)},
                       {"findings", findings},
                       {"aiLimited", false}})};
}

DevBackend::Answer DevBackend::rewrite(const RecordedRequest& request, const Json& body) {
    if (!accountOf(request)) return {401, json({{"message", "Sign in to rewrite."}})};
    auto text = stringField(body, "body");
    auto mode = stringField(body, "mode");
    if (!text || !mode) return {400, json({{"message", "The draft or the mode is missing."}})};
    if (*mode == "shorter") {
        auto parts = sentences(*text);
        std::string out;
        for (size_t i = 0; i < (parts.size() + 1) / 2; ++i) out += parts[i];
        return {200, json({{"text", trimAscii(out)}})};
    }
    if (*mode == "human") {
        std::string out = *text;
        for (const auto& tell : kTells) out = replaceAllIgnoringCase(out, tell.phrase, tell.plain);
        return {200, json({{"text", out}})};
    }
    return {400, json({{"message", "Unknown rewrite mode \"" + *mode + "\"."}})};
}

DevBackend::Answer DevBackend::rules(const RecordedRequest& request, const Json& body) {
    if (!accountOf(request)) return {401, json({{"message", "Sign in to add checks."}})};
    if (request.method == "GET") return {200, json({{"rules", rules_}})};
    auto name = stringField(body, "name");
    auto prompt = stringField(body, "aiPrompt");
    if (!name || name->empty() || !prompt || prompt->empty())
        return {400, json({{"message", "A check needs a name and a description."}})};
    Json rule = body;
    rule["id"] = "rule_" + std::to_string(rules_.size() + 1);
    rules_.push_back(rule);
    return {201, json({{"id", rule["id"]}})};
}

}  // namespace kestrel::devserver
