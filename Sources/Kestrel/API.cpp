#include "Kestrel/API.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <variant>

#include "Desktop/Desktop.h"
#include "Desktop/Unicode.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/Config.h"
#include "Kestrel/Keychain.h"

namespace kestrel {

using desktop::json::ObjectReader;
using desktop::json::putOptional;

// ---- Account records ----

Decoded<User::Usage> User::Usage::decode(const Json& json) {
    ObjectReader r(json);
    Usage u;
    r.optional("aiChecksUsed", u.aiChecksUsed);
    r.optional("aiChecksToday", u.aiChecksToday);
    r.optional("aiChecksLimit", u.aiChecksLimit);
    return r.finish(std::move(u));
}

Json User::Usage::encode() const {
    Json j = Json::object();
    putOptional(j, "aiChecksUsed", aiChecksUsed);
    putOptional(j, "aiChecksToday", aiChecksToday);
    putOptional(j, "aiChecksLimit", aiChecksLimit);
    return j;
}

std::string User::planLabel() const {
    std::string p = plan.value_or("free");
    std::transform(p.begin(), p.end(), p.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (p == "org") return "Organisation";
    if (p == "pro") return "Pro";
    return "Free";
}

Decoded<User> User::decode(const Json& json) {
    ObjectReader r(json);
    User u;
    r.optional("userId", u.userId);
    r.required("email", u.email);
    r.optional("name", u.name);
    r.optional("plan", u.plan);
    r.optionalRecord("usage", u.usage);
    return r.finish(std::move(u));
}

Json User::encode() const {
    Json j = Json::object();
    putOptional(j, "userId", userId);
    j["email"] = email;
    putOptional(j, "name", name);
    putOptional(j, "plan", plan);
    if (usage) j["usage"] = usage->encode();
    return j;
}

Decoded<AuthConfig> AuthConfig::decode(const Json& json) {
    ObjectReader r(json);
    AuthConfig c;
    r.optional("googleSignIn", c.googleSignIn);
    r.optional("emailCode", c.emailCode);
    r.optional("devLogin", c.devLogin);
    return r.finish(std::move(c));
}

Json AuthConfig::encode() const {
    Json j = Json::object();
    putOptional(j, "googleSignIn", googleSignIn);
    putOptional(j, "emailCode", emailCode);
    putOptional(j, "devLogin", devLogin);
    return j;
}

namespace {
template <class T>
Decoded<T> decodeTokenAndUser(const Json& json) {
    ObjectReader r(json);
    T value;
    r.required("token", value.token);
    std::optional<User> user;
    r.optionalRecord("user", user);
    auto done = r.finish(std::move(value));
    if (!done) return done;
    if (!user) return std::unexpected(desktop::json::DecodingError{"missing key \"user\""});
    done->user = std::move(*user);
    return done;
}
}  // namespace

Decoded<SessionResponse> SessionResponse::decode(const Json& json) {
    return decodeTokenAndUser<SessionResponse>(json);
}

Json SessionResponse::encode() const { return {{"token", token}, {"user", user.encode()}}; }

Decoded<StoredSession> StoredSession::decode(const Json& json) {
    return decodeTokenAndUser<StoredSession>(json);
}

Json StoredSession::encode() const { return {{"token", token}, {"user", user.encode()}}; }

// ---- The request routine ----

struct KestrelAPI::Context {
    desktop::Desktop* desktop = nullptr;
    std::string base;  // the backend base URL, never ending in a slash
    std::string version;
    std::optional<std::string> token;
    std::optional<User> user;
    std::weak_ptr<KestrelAPI> api;
};

namespace {

using Context = KestrelAPI::Context;

constexpr const char* kCannotRead = "The data couldn't be read because it isn't in the correct format.";
constexpr const char* kCannotWrite =
    "The data couldn't be written because it isn't in the correct format.";

// The rewrite reply: one optional string.
struct RewriteReply {
    std::optional<std::string> text;
    static Decoded<RewriteReply> decode(const Json& json) {
        ObjectReader r(json);
        RewriteReply reply;
        r.optional("text", reply.text);
        return r.finish(std::move(reply));
    }
};

// The base URL's path followed by `path` (which begins with "/"), before any query or fragment.
std::string joinUrl(const std::string& base, std::string_view path) {
    auto url = desktop::Url::parse(base);
    if (!url) return base + std::string(path);
    std::string prefix = url->text.substr(0, url->text.size() - url->path.size());
    std::string basePath = url->path, rest;
    if (auto cut = basePath.find_first_of("?#"); cut != std::string::npos) {
        rest = basePath.substr(cut);
        basePath.resize(cut);
    }
    while (!basePath.empty() && basePath.back() == '/') basePath.pop_back();
    return prefix + basePath + std::string(path) + rest;
}

APIError failure(APIError::Kind kind, std::string message) {
    return APIError{0, std::move(message), kind};
}

// The refusal's message: the body's "message", or only when that key is missing its "error",
// when that is a non-empty string; otherwise "Request failed (STATUS)".
std::string refusalMessage(int64_t status, const std::string& body) {
    std::string message = "Request failed (" + std::to_string(status) + ")";
    auto parsed = desktop::json::parse(body);
    if (!parsed || !parsed->is_object()) return message;
    auto it = parsed->find("message");
    if (it == parsed->end()) it = parsed->find("error");
    if (it == parsed->end() || !it->is_string()) return message;
    // A NUL would cut the text short wherever it is shown.
    auto text = it->get<std::string>();
    std::erase(text, '\0');
    return text.empty() ? message : text;
}

using Deadline = std::chrono::steady_clock::time_point;

// Builds, sends and decodes one request. Runs on the executor. A call made of several requests
// passes its deadline, so that together they take no longer than one request may.
template <class T>
APIResult<T> request(const Context& ctx, std::string_view path, const char* method,
                     const std::optional<Json>& body = std::nullopt,
                     std::optional<Deadline> deadline = std::nullopt) {
    desktop::HttpRequest req;
    req.method = method;
    req.url = joinUrl(ctx.base, path);
    req.timeoutSeconds = std::min(KestrelAPI::kSessionRequestTimeout, KestrelAPI::kRequestTimeout);
    if (deadline) {
        double left = std::chrono::duration<double>(*deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            auto timedOut = desktop::transportError(desktop::TransportError::Kind::timedOut);
            return std::unexpected(failure(APIError::Kind::transport, timedOut.message));
        }
        req.timeoutSeconds = std::min(req.timeoutSeconds, left);
    }
    req.headers.emplace_back("content-type", "application/json");
    req.headers.emplace_back("user-agent", "kestrel-macos/" + ctx.version);
    if (ctx.token) req.headers.emplace_back("authorization", "Bearer " + *ctx.token);
    if (body) {
        try {
            req.body = body->dump();  // strict: text that is not UTF-8 is not sent
        } catch (const Json::exception&) {
            return std::unexpected(failure(APIError::Kind::serialization, kCannotWrite));
        }
    }

    auto sent = ctx.desktop->http().send(req);
    if (!sent) return std::unexpected(failure(APIError::Kind::transport, sent.error().message));
    const auto& response = *sent;
    int64_t status = response.status;

    if (status >= 200 && status <= 299) {
        if constexpr (std::is_same_v<T, EmptyResponse>) {
            return EmptyResponse{};
        } else {
            auto decoded = desktop::json::decodeText<T>(response.body);
            if (!decoded) return std::unexpected(failure(APIError::Kind::decoding, kCannotRead));
            return std::move(*decoded);
        }
    }

    if (status == 401 && ctx.token) {
        // Signs out on the main thread, and only the session this request was sent with: a late
        // refusal of an old token never signs out a newer session.
        ctx.desktop->runLoop().async([api = ctx.api, sentWith = *ctx.token] {
            if (auto self = api.lock()) self->signOutRefused(sentWith);
        });
    }
    return std::unexpected(APIError{status, refusalMessage(status, response.body)});
}

// Runs `work` on the executor and hands its result to `done` on the main thread.
template <class R>
void inBackground(desktop::Desktop* desk, std::function<R()> work, std::function<void(R)> done) {
    desk->executor().post([desk, work = std::move(work), done = std::move(done)]() mutable {
        auto result = std::make_shared<R>(work());
        desk->runLoop().async([done = std::move(done), result] { done(std::move(*result)); });
    });
}

// Tells `completion` on the main thread, without sending anything.
template <class R>
void answerNow(std::function<void(R)> completion, R result) {
    desktop::current().runLoop().async(
        [completion = std::move(completion), result = std::move(result)]() mutable {
            if (completion) completion(std::move(result));
        });
}

Json requestUserId(const std::optional<User>& user) {
    if (!user) return nullptr;
    if (user->userId) return *user->userId;
    return user->email;
}

}  // namespace

// ---- The client ----

namespace {
std::shared_ptr<KestrelAPI> sharedInstance;
uint64_t sharedDesktop = 0;
}  // namespace

std::shared_ptr<KestrelAPI> KestrelAPI::shared() {
    auto serial = desktop::current().serial();
    if (!sharedInstance || sharedDesktop != serial) {
        sharedInstance.reset();
        sharedInstance = std::make_shared<KestrelAPI>();
        sharedDesktop = serial;
        sharedInstance->restoreSession();
    }
    return sharedInstance;
}

void KestrelAPI::resetShared() {
    sharedInstance.reset();
    sharedDesktop = 0;
}

namespace {
// Characters a header value cannot carry.
constexpr std::string_view kUnsendable("\r\n\0", 3);

bool isUsableToken(std::string_view token) {
    return token.find_first_of(kUnsendable) == std::string_view::npos;
}
}  // namespace

KestrelAPI::KestrelAPI() = default;

void KestrelAPI::restoreSession() {
    // Without an item, or with one that does not decode or cannot be used, the client stays
    // signed out. A locked keyring answers late, and the application runs meanwhile.
    Keychain::loadLater([weak = weak_from_this(), changes = sessionChanges_](std::optional<std::string> data) {
        auto self = weak.lock();
        if (!self || !data || self->sessionChanges_ != changes) return;
        auto stored = desktop::json::decodeText<StoredSession>(*data);
        if (!stored || !isUsableToken(stored->token)) return;
        self->token_ = stored->token;
        self->setUser(stored->user);
    });
}

void KestrelAPI::setUser(std::optional<User> user) {
    announce();
    user_ = std::move(user);
}

void KestrelAPI::clearSession() {
    ++sessionChanges_;
    token_.reset();
    setUser(std::nullopt);
    Keychain::remove();
}

void KestrelAPI::signOutRefused(const std::string& sentWith) {
    if (token_ == sentWith) clearSession();
}

KestrelAPI::Context KestrelAPI::snapshot() {
    Context ctx;
    ctx.desktop = &desktop::current();
    ctx.base = Config::backend().text;
    ctx.version = Config::version();
    ctx.token = token_;
    ctx.user = user_;
    ctx.api = weak_from_this();
    return ctx;
}

bool KestrelAPI::store(const SessionResponse& session, const std::string& method) {
    // Kept, such a token would fail every later request.
    if (!isUsableToken(session.token)) return false;
    ++sessionChanges_;
    token_ = session.token;
    setUser(session.user);
    Keychain::save(desktop::json::dump(StoredSession{session.token, session.user}.encode()));
    Analytics::identify(session.user, method);
    return true;
}

void KestrelAPI::signOut() {
    if (token_) Analytics::track("Signed Out");
    clearSession();
}

void KestrelAPI::startEmail(std::string email, std::function<void(APIResult<bool>)> completion) {
    // Either a code went out (true) or the development login answered a session.
    using Outcome = APIResult<std::variant<bool, SessionResponse>>;
    auto ctx = snapshot();
    // The person waits for all of it: a server that never answers must not cost two timeouts.
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(kSignInTimeout));
    inBackground<Outcome>(
        ctx.desktop,
        [ctx, deadline, email = std::move(email)]() -> Outcome {
            Json body = {{"email", email}};
            // Any failure of the configuration call counts as "development login only".
            auto config = request<AuthConfig>(ctx, "/api/auth/config", "GET", std::nullopt, deadline);
            bool emailCode = config && config->emailCode.value_or(false);
            bool devLogin = !config || config->devLogin.value_or(false);
            if (emailCode) {
                auto sent = request<EmptyResponse>(ctx, "/api/auth/email/start", "POST", body, deadline);
                if (!sent) return std::unexpected(sent.error());
                return true;
            }
            if (devLogin) {
                auto session = request<SessionResponse>(ctx, "/api/auth/dev", "POST", body, deadline);
                if (!session) return std::unexpected(session.error());
                return std::move(*session);
            }
            return std::unexpected(APIError{0, kEmailSignInUnavailable});
        },
        [weak = weak_from_this(), completion = std::move(completion)](Outcome outcome) {
            if (!completion) return;
            if (!outcome) return completion(std::unexpected(outcome.error()));
            if (auto* session = std::get_if<SessionResponse>(&*outcome)) {
                auto self = weak.lock();
                if (self && !self->store(*session, "dev"))
                    return completion(std::unexpected(APIError{0, kUnusableSession}));
                return completion(false);
            }
            completion(std::get<bool>(*outcome));
        });
}

void KestrelAPI::verifyEmail(std::string email, std::string code,
                             std::function<void(APIResult<User>)> completion) {
    auto ctx = snapshot();
    inBackground<APIResult<SessionResponse>>(
        ctx.desktop,
        [ctx, body = Json{{"email", std::move(email)}, {"code", std::move(code)}}] {
            return request<SessionResponse>(ctx, "/api/auth/email/verify", "POST", body);
        },
        [weak = weak_from_this(),
         completion = std::move(completion)](APIResult<SessionResponse> session) {
            auto self = weak.lock();
            if (session && self && !self->store(*session, "email_code"))
                session = std::unexpected(APIError{0, kUnusableSession});
            if (!completion) return;
            if (!session) return completion(std::unexpected(session.error()));
            completion(session->user);
        });
}

void KestrelAPI::refreshMe(std::function<void()> completion) {
    auto done = [completion = std::move(completion)](bool) {
        if (completion) completion();
    };
    if (!token_) return answerNow<bool>(done, false);
    auto ctx = snapshot();
    inBackground<APIResult<User>>(
        ctx.desktop, [ctx] { return request<User>(ctx, "/api/auth/me", "GET"); },
        [weak = weak_from_this(), sentWith = *ctx.token, done](APIResult<User> user) {
            auto self = weak.lock();
            // A record fetched for a session that has since ended (signed out, or replaced by a
            // new sign-in) belongs to nobody now.
            if (self && user && self->token_ == sentWith) {
                self->setUser(*user);
                Keychain::save(desktop::json::dump(StoredSession{*self->token_, *user}.encode()));
            }
            done(true);
        });
}

void KestrelAPI::score(std::string text, std::string platform, std::string depth,
                       std::function<void(APIResult<ScoreResult>)> completion) {
    auto ctx = snapshot();
    Json body = {{"userId", requestUserId(ctx.user)},
                 {"subject", ""},
                 {"body", std::move(text)},
                 {"platform", std::move(platform)},
                 {"depth", std::move(depth)},
                 {"recipients", Json::array()},
                 {"hasAttachment", false},
                 {"mentionsAttachment", false}};
    inBackground<APIResult<ScoreResult>>(
        ctx.desktop,
        [ctx, body = std::move(body)] {
            return request<ScoreResult>(ctx, "/api/check/score", "POST", body);
        },
        [completion = std::move(completion)](APIResult<ScoreResult> result) {
            if (completion) completion(std::move(result));
        });
}

void KestrelAPI::rewrite(std::string text, std::string platform, std::string mode,
                         std::function<void(APIResult<std::string>)> completion) {
    auto ctx = snapshot();
    Json body = {{"userId", requestUserId(ctx.user)},
                 {"subject", ""},
                 {"body", std::move(text)},
                 {"mode", std::move(mode)},
                 {"platform", std::move(platform)}};
    inBackground<APIResult<std::string>>(
        ctx.desktop,
        [ctx, body = std::move(body)]() -> APIResult<std::string> {
            auto reply = request<RewriteReply>(ctx, "/api/check/rewrite", "POST", body);
            if (!reply) return std::unexpected(reply.error());
            if (!reply->text || reply->text->empty())
                return std::unexpected(APIError{0, kRewriteEmpty});
            return std::move(*reply->text);  // not trimmed
        },
        [completion = std::move(completion)](APIResult<std::string> result) {
            if (completion) completion(std::move(result));
        });
}

std::string KestrelAPI::ruleName(const std::string& trimmedPrompt) {
    if (desktop::unicode::graphemeCount(trimmedPrompt) <= 60) return trimmedPrompt;
    return desktop::unicode::graphemePrefix(trimmedPrompt, 57) + "…";
}

void KestrelAPI::createRule(std::string prompt,
                            std::function<void(APIResult<EmptyResponse>)> completion) {
    using Result = APIResult<EmptyResponse>;
    auto trimmed = desktop::unicode::trimWhitespace(prompt);
    if (trimmed.empty())
        return answerNow<Result>(std::move(completion), std::unexpected(APIError{0, kDescribeCheckFirst}));
    // Made locally: signs nobody out.
    if (!token_)
        return answerNow<Result>(std::move(completion), std::unexpected(APIError{401, kSignInToAddChecks}));
    auto ctx = snapshot();
    Json body = {{"name", ruleName(trimmed)},  {"platforms", "all"}, {"triggerMode", "always"},
                 {"triggerLogic", "AND"},      {"checkType", "ai"},  {"aiPrompt", trimmed},
                 {"level", "warn"},            {"active", true}};
    inBackground<Result>(
        ctx.desktop,
        [ctx, body = std::move(body)] {
            return request<EmptyResponse>(ctx, "/api/rules/my", "POST", body);
        },
        [completion = std::move(completion)](Result result) {
            if (completion) completion(std::move(result));
        });
}

}  // namespace kestrel
