// What the local stand-in for the backend service and the two analytics ingestion services
// answers, without a socket: the routes, accounts, canned replies and the request log.
// Deterministic: the same requests in the same order get the same answers, codes and tokens.
// The scenario command `backend dev` serves it inside the simulated desktop's transport; DevServer
// puts it on real HTTP. Every public call is safe from any thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "Desktop/Http.h"

namespace kestrel::devserver {

struct RecordedRequest {
    std::string method;
    std::string path;    // without the query
    std::string target;  // path and query as sent
    desktop::HttpHeaders headers;
    std::string body;

    std::optional<std::string> header(std::string_view name) const {
        return desktop::headerValue(headers, name);
    }
};

class DevBackend {
public:
    // Paths it serves.
    static constexpr const char* kAuthConfig = "/api/auth/config";
    static constexpr const char* kEmailStart = "/api/auth/email/start";
    static constexpr const char* kEmailVerify = "/api/auth/email/verify";
    static constexpr const char* kDevLogin = "/api/auth/dev";
    static constexpr const char* kMe = "/api/auth/me";
    static constexpr const char* kScore = "/api/check/score";
    static constexpr const char* kRewrite = "/api/check/rewrite";
    static constexpr const char* kRules = "/api/rules/my";
    static constexpr const char* kMixpanelTrack = "/track";
    static constexpr const char* kMixpanelEngage = "/engage";
    static constexpr const char* kPostHogCapture = "/i/v0/e/";

    // AI checks a month per plan.
    static constexpr int64_t kFreeChecks = 50;
    static constexpr int64_t kProChecks = 2000;

    // Told a line for each e-mailed code, on the thread that asked.
    using Announce = std::function<void(const std::string& line)>;

    struct Answer {
        int status = 200;
        std::string body;
        std::string contentType = "application/json";
    };

    explicit DevBackend(Announce announce = nullptr);
    virtual ~DevBackend();
    DevBackend(const DevBackend&) = delete;
    DevBackend& operator=(const DevBackend&) = delete;

    // Records the request and answers it: a canned reply for its path, else its route.
    Answer answer(RecordedRequest request);
    // The same for a request to an address under `base` ("http://HOST:PORT"), as a transport
    // would hand it over.
    desktop::HttpResponse answer(const desktop::HttpRequest& request, std::string_view base);

    // From now on, requests to `path` (query ignored) get this answer unconditionally, whatever
    // the method, token or body.
    void reply(const std::string& path, int status, std::string body,
               std::string contentType = "application/json");
    void clearReply(const std::string& path);

    // Every request received, in order.
    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requests(std::string_view path) const;
    void clearRequests();

    // The analytics received, decoded: each event object of Mixpanel track requests, each
    // profile update of engage requests, each PostHog capture payload.
    std::vector<nlohmann::json> mixpanelEvents() const;
    std::vector<nlohmann::json> mixpanelProfiles() const;
    std::vector<nlohmann::json> posthogEvents() const;

    // The six-digit code e-mailed to an address: the same for the same address (compared without
    // case), FNV-1a of the lower-cased address modulo one million.
    static std::string codeFor(std::string_view email);

private:
    struct Account {
        nlohmann::json user;
        int64_t checksUsed = 0;
    };

    Answer route(const RecordedRequest& request);
    Answer ingestMixpanel(const RecordedRequest& request, std::vector<nlohmann::json>& into);
    Answer ingestPostHog(const RecordedRequest& request);
    Answer startCode(const nlohmann::json& body);
    Answer verifyCode(const nlohmann::json& body);
    Answer devLogin(const nlohmann::json& body);
    Answer me(const RecordedRequest& request);
    Answer score(const RecordedRequest& request, const nlohmann::json& body);
    Answer rewrite(const RecordedRequest& request, const nlohmann::json& body);
    Answer rules(const RecordedRequest& request, const nlohmann::json& body);
    // The signed-in account of a request, by its bearer token.
    Account* accountOf(const RecordedRequest& request);
    Account& accountFor(const std::string& email);
    Answer session(const std::string& email);
    nlohmann::json userJson(const Account& account) const;

    Announce announce_;
    mutable std::mutex mutex_;
    std::map<std::string, Answer> replies_;
    std::vector<RecordedRequest> requests_;
    std::vector<nlohmann::json> mixpanelEvents_, mixpanelProfiles_, posthogEvents_;
    std::map<std::string, Account> accounts_;       // by lower-cased e-mail
    std::map<std::string, std::string> sessions_;   // token -> lower-cased e-mail
    std::set<std::string> codesSent_;               // lower-cased e-mails
    std::vector<nlohmann::json> rules_;
    uint64_t sessionsIssued_ = 0;
};

}  // namespace kestrel::devserver
