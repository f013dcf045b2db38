// The backend client: the one object through which the application talks to the backend service
// (sign-in, session, AI score, rewrite, custom checks), its error, and the account records.
// State (token, user, the keychain item) is read and written on the main thread only; requests
// run on the executor with a snapshot of what they need, and every completion comes back on the
// main thread. One shared instance for the process, made on first use.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Desktop/Json.h"
#include "Desktop/Observable.h"
#include "Kestrel/Engine.h"

namespace kestrel {

// ---- Account records ----

struct User {
    struct Usage {
        std::optional<int64_t> aiChecksUsed{};
        std::optional<int64_t> aiChecksToday{};
        std::optional<int64_t> aiChecksLimit{};

        static Decoded<Usage> decode(const Json& json);
        Json encode() const;
        bool operator==(const Usage&) const = default;
    };

    std::optional<std::string> userId{};
    std::string email{};
    std::optional<std::string> name{};
    std::optional<std::string> plan{};
    std::optional<Usage> usage{};

    // "Organisation", "Pro" or "Free" from the plan, compared case-insensitively.
    std::string planLabel() const;

    static Decoded<User> decode(const Json& json);
    Json encode() const;
    bool operator==(const User&) const = default;
};

struct AuthConfig {
    std::optional<bool> googleSignIn;
    std::optional<bool> emailCode;
    std::optional<bool> devLogin;

    static Decoded<AuthConfig> decode(const Json& json);
    Json encode() const;
    bool operator==(const AuthConfig&) const = default;
};

struct SessionResponse {
    std::string token;
    User user;

    static Decoded<SessionResponse> decode(const Json& json);
    Json encode() const;
    bool operator==(const SessionResponse&) const = default;
};

// The keychain payload.
struct StoredSession {
    std::string token;
    User user;

    static Decoded<StoredSession> decode(const Json& json);
    Json encode() const;
    bool operator==(const StoredSession&) const = default;
};

// ---- Errors ----

struct APIError {
    // The HTTP status of a refusal; 401 also for a refusal made locally because nobody is signed
    // in; 0 when no HTTP status applies.
    int64_t status = 0;
    // Shown to the person unchanged (the error's localized description).
    std::string message;
    // What failed: the service refused (or a local check), or the request never got a usable
    // answer. Only `api` errors carry a status; the others keep 0.
    enum class Kind { api, transport, decoding, serialization };
    Kind kind = Kind::api;

    const std::string& localizedDescription() const { return message; }
    bool operator==(const APIError&) const = default;
};

template <class T>
using APIResult = std::expected<T, APIError>;

// Asked for by calls whose answer the client does not read.
struct EmptyResponse {
    bool operator==(const EmptyResponse&) const = default;
};

// ---- The client ----

class KestrelAPI : public desktop::Observable, public std::enable_shared_from_this<KestrelAPI> {
public:
    // Request timeouts: the session's per-request limit and the request's own; the shorter wins.
    static constexpr double kSessionRequestTimeout = 20;
    static constexpr double kRequestTimeout = 60;
    // startEmail's requests together (configuration, then the code or the development login).
    static constexpr double kSignInTimeout = kSessionRequestTimeout;

    // The process-wide client, made on first use (restoring the stored session). A client made on
    // an earlier desktop is replaced by a fresh one, so nothing outlives its desktop.
    static std::shared_ptr<KestrelAPI> shared();
    // Tests: the next shared() makes a fresh client.
    static void resetShared();

    // Restores the stored session from the keychain. Main thread; prefer shared().
    KestrelAPI();

    const std::optional<std::string>& token() const { return token_; }
    bool isSignedIn() const { return token_.has_value(); }
    // Observable: every assignment announces, then assigns.
    const std::optional<User>& user() const { return user_; }

    // Completions always run on the main thread (RunLoop::async), exactly once.

    // Sign-in. startEmail answers true when a code was e-mailed, false when the server's
    // development login signed the person in at once.
    void startEmail(std::string email, std::function<void(APIResult<bool>)> completion);
    void verifyEmail(std::string email, std::string code,
                     std::function<void(APIResult<User>)> completion);
    // Brings the user record up to date when signed in; never fails (the completion, if any, is
    // told when it is done).
    void refreshMe(std::function<void()> completion = nullptr);
    // Makes a server session the client's: token, user, keychain item, then the analytics
    // profile and "Signed In". A token that could not be sent back in a header (it holds CR, LF
    // or NUL) is refused: nothing is kept and the answer is false. Main thread.
    bool store(const SessionResponse& session, const std::string& method);
    // The sign-out sequence of the status menu: "Signed Out" when a token was held, then clears
    // token and user and deletes the keychain item. Nothing is sent to the service. Main thread.
    void signOut();

    // Checks.
    void score(std::string text, std::string platform, std::string depth,
               std::function<void(APIResult<ScoreResult>)> completion);
    void rewrite(std::string text, std::string platform, std::string mode,
                 std::function<void(APIResult<std::string>)> completion);
    void createRule(std::string prompt, std::function<void(APIResult<EmptyResponse>)> completion);

    // Messages of the errors the client makes itself.
    static constexpr const char* kEmailSignInUnavailable =
        "Email sign-in is not available on this server.";
    static constexpr const char* kRewriteEmpty = "The rewrite came back empty.";
    static constexpr const char* kDescribeCheckFirst = "Describe the check first.";
    static constexpr const char* kSignInToAddChecks = "Sign in to add checks.";
    static constexpr const char* kUnusableSession =
        "The server answered with a session that cannot be used.";

    // The name a custom check gets: the text itself up to 60 user-perceived characters, else its
    // first 57 followed by "…".
    static std::string ruleName(const std::string& trimmedPrompt);

    // The refusal rule of the request routine: a 401 answered to a request sent with
    // `sentWith` signs the client out when it still holds that token. Main thread.
    void signOutRefused(const std::string& sentWith);

    struct Context;  // what one call took from the main thread

private:
    void setUser(std::optional<User> user);
    void clearSession();
    // Takes the stored session once the keychain answers, unless a sign-in or sign-out came first.
    void restoreSession();
    Context snapshot();

    std::optional<User> user_;
    std::optional<std::string> token_;
    // Sign-ins and sign-outs so far: a session read late must not undo a newer one.
    uint64_t sessionChanges_ = 0;
};

}  // namespace kestrel
