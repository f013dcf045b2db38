// The backend client over real loopback HTTP against the in-process stand-in.
#include <gtest/gtest.h>

#include <chrono>

#include "BackendSupport.h"
#include "Desktop/Unicode.h"
#include "Kestrel/Keychain.h"

using kestrel::APIError;
using kestrel::APIResult;
using kestrel::EmptyResponse;
using kestrel::KestrelAPI;
using kestrel::ScoreResult;
using kestrel::SessionResponse;
using kestrel::StoredSession;
using kestrel::User;
using kestrel::devserver::DevServer;
using nlohmann::json;
using testing_support::RawPeer;

namespace {

class APITests : public testing_support::BackendTest {
protected:
    APIResult<ScoreResult> score(const std::string& text = "hello there") {
        return await<APIResult<ScoreResult>>(
            [&](auto done) { api()->score(text, "slack", "live", done); });
    }
    APIResult<std::string> rewrite(const std::string& text = "hello there", const std::string& mode = "shorter") {
        return await<APIResult<std::string>>(
            [&](auto done) { api()->rewrite(text, "mail", mode, done); });
    }
    APIResult<EmptyResponse> createRule(const std::string& prompt) {
        return await<APIResult<EmptyResponse>>(
            [&](auto done) { api()->createRule(prompt, done); });
    }
    APIResult<bool> startEmail(const std::string& email = "ann@example.com") {
        return await<APIResult<bool>>([&](auto done) { api()->startEmail(email, done); });
    }
    void refreshMe() {
        int calls = 0;
        api()->refreshMe([&] { ++calls; });
        EXPECT_TRUE(sim.settle());
        EXPECT_EQ(calls, 1);
    }
    // The body of the last request the stand-in received at `path`.
    json lastBody(const std::string& path) {
        auto got = server.requests(path);
        EXPECT_FALSE(got.empty()) << path;
        if (got.empty()) return nullptr;
        return json::parse(got.back().body);
    }
    std::optional<std::string> storedItem() { return kestrel::Keychain::load(); }
};

// ---- The request routine ----

TEST_F(APITests, GetCarriesJsonContentTypeUserAgentAndBearerTokenInOrderWithoutBody) {
    signIn();
    server.clearRequests();
    refreshMe();
    auto sent = sim.simHttp().requestsTo(server.url() + "/api/auth/me");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].method, "GET");
    EXPECT_FALSE(sent[0].body.has_value());
    ASSERT_EQ(sent[0].headers.size(), 3u);
    using Header = std::pair<std::string, std::string>;
    EXPECT_EQ(sent[0].headers[0], Header("content-type", "application/json"));
    EXPECT_EQ(sent[0].headers[1], Header("user-agent", "kestrel-macos/" KESTREL_VERSION));
    EXPECT_EQ(sent[0].headers[2], Header("authorization", "Bearer " + *api()->token()));
    EXPECT_EQ(server.requests(DevServer::kMe).at(0).header("authorization"), "Bearer " + *api()->token());
}

TEST_F(APITests, UserAgentCarriesDevWithoutAVersionString) {
    sim.simBundle().removeInfoValue("CFBundleShortVersionString");
    score();
    EXPECT_EQ(server.requests(DevServer::kScore).at(0).header("user-agent"), "kestrel-macos/dev");
}

TEST_F(APITests, SignedOutCallCarriesNoAuthorizationAndANullUserId) {
    score();
    auto received = server.requests(DevServer::kScore);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_FALSE(received[0].header("authorization"));
    EXPECT_EQ(received[0].method, "POST");
    EXPECT_TRUE(lastBody(DevServer::kScore)["userId"].is_null());
}

TEST_F(APITests, TheBackendAddressIsJoinedWithOneSlashOrFallsBackToTheDefault) {
    for (auto [setting, requested] : std::vector<std::pair<std::string, std::string>>{
             {"  " + server.url() + "/base///", server.url() + "/base/api/check/score"},
             {"https://api.example.com", "https://api.example.com/api/check/score"},
             {"not a url", std::string(kestrel::Config::kDefaultBackend) + "/api/check/score"}}) {
        sim.simHttp().clearRequests();
        sim.simDefaults().set(kestrel::Config::kBackendUrl, setting);
        auto result = score();
        EXPECT_EQ(sim.simHttp().requests().at(0).url, requested) << setting;
        if (requested.starts_with(server.url())) continue;
        // Hosts off the machine are offline on the simulated desktop.
        EXPECT_EQ(result.error(), (APIError{0, "The Internet connection appears to be offline.", APIError::Kind::transport}));
    }
}
TEST_F(APITests, ErrorAnswersAreWordedByTheServerOrTheDefault) {
    struct Case {
        int status;
        std::string body;
        std::string message;
    };
    for (const auto& c : std::vector<Case>{
             {500, R"({"error":"The model is asleep."})", "The model is asleep."},
             {429, R"({"error":"slow down","message":"Too many checks today."})", "Too many checks today."},
             {404, "<html><body><h1>Not Found</h1></body></html>", "Request failed (404)"},
             {500, R"({"message":""})", "Request failed (500)"},
             {500, R"({"message":null,"error":"hidden"})", "Request failed (500)"},
             {503, R"(["message"])", "Request failed (503)"},
             {503, R"("message")", "Request failed (503)"},
             {503, R"({"message":42})", "Request failed (503)"},
             {503, R"({"other":"x"})", "Request failed (503)"},
             {503, "", "Request failed (503)"},
             {503, "{\"message\":\"unterminated", "Request failed (503)"},
             {400, R"({"message":"line one\nline\u0007two\ttab \u00e9\u2603"})", "line one\nline\atwo\ttab é☃"},
             {400, R"({"message":"Too many\u0000 checks"})", "Too many checks"},
             {400, R"({"message":"\u0000"})", "Request failed (400)"},
             {400, "{\"message\":\"bad \xff\xfe bytes\"}", "Request failed (400)"}}) {
        server.reply(DevServer::kScore, c.status, c.body, c.body.starts_with("<html") ? "text/html" : "application/json");
        EXPECT_EQ(score().error(), (APIError{c.status, c.message})) << c.body;
    }
    // An answer that is not HTTP is status 0, worded the same way.
    for (auto [raw, message] : std::vector<std::pair<std::string, std::string>>{
             {"this is not HTTP at all\n", "Request failed (0)"}, {R"({"message":"raw words"})", "raw words"}}) {
        RawPeer peer(RawPeer::Mode::answerAndClose, raw);
        sim.simDefaults().set(kestrel::Config::kBackendUrl, peer.url());
        auto error = score().error();
        EXPECT_EQ(error, (APIError{0, message})) << raw;
        EXPECT_EQ(error.kind, APIError::Kind::api);
    }
}

TEST_F(APITests, A401WhileSignedInSignsOutFirst) {
    signIn();
    ASSERT_TRUE(storedItem());
    std::vector<bool> userPresentWhenAnnounced;
    auto observing = api()->observe([&] { userPresentWhenAnnounced.push_back(api()->user().has_value()); });
    server.reply(DevServer::kScore, 401, R"({"message":"Your session has ended."})");
    std::optional<std::string> tokenWhenTold;
    auto result = await<APIResult<ScoreResult>>([&](auto done) {
        api()->score("x", "slack", "live", [&, done](APIResult<ScoreResult> r) {
            tokenWhenTold = api()->token();
            done(std::move(r));
        });
    });
    EXPECT_EQ(result.error(), (APIError{401, "Your session has ended."}));
    EXPECT_FALSE(tokenWhenTold) << "signed out before the caller hears of the error";
    EXPECT_FALSE(api()->token());
    EXPECT_FALSE(api()->user());
    EXPECT_EQ(userPresentWhenAnnounced, std::vector<bool>{true}) << "observers saw the user go";
    EXPECT_FALSE(storedItem());
}

TEST_F(APITests, A401WhileSignedOutClearsNothing) {
    sim.simSecureStore().plant(kestrel::Keychain::itemQuery(), "unrelated");
    int announcements = 0;
    auto observing = api()->observe([&] { ++announcements; });
    server.reply(DevServer::kScore, 401, R"({"message":"Sign in first."})");
    EXPECT_EQ(score().error(), (APIError{401, "Sign in first."}));
    EXPECT_EQ(announcements, 0);
    EXPECT_TRUE(sim.simSecureStore().item(kestrel::Keychain::itemQuery()));
}

TEST_F(APITests, ALateRefusalOfAnOldSessionLeavesTheNewOneSignedIn) {
    signIn("old@example.com");
    server.reply(DevServer::kScore, 401, R"({"message":"expired"})");
    std::optional<APIResult<ScoreResult>> result;
    api()->score("x", "slack", "live", [&](APIResult<ScoreResult> r) { result = std::move(r); });
    // A new session arrives on the main thread while the old token's request is out.
    api()->store(SessionResponse{"new-token", User{.email = "new@example.com"}}, "dev");
    ASSERT_TRUE(sim.settle());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->error().status, 401);
    EXPECT_EQ(api()->token(), "new-token");
    EXPECT_EQ(api()->user()->email, "new@example.com");
    EXPECT_TRUE(storedItem());
}

TEST_F(APITests, AnswersDecodeWhenWellFormedAndFailAsDecodingErrorsOtherwise) {
    for (auto [status, body, decodes] : std::vector<std::tuple<int, std::string, bool>>{
             {200, R"({"slopScore":3,"extra":{"deep":[1,2]},"version":"9"})", true},
             {200, "{}", true},
             {204, "", false},
             {200, R"({"slopScore": 3,)", false},
             {200, std::string(100000, '[') + std::string(100000, ']'), false},
             {200, R"({"slopScore":10,"findings":[{"id":"x","level":"warn"}]})", false}}) {
        server.reply(DevServer::kScore, status, body);
        auto result = score();
        EXPECT_EQ(result.has_value(), decodes) << body.substr(0, 60);
        if (decodes) continue;
        EXPECT_EQ(result.error(), (APIError{0, "The data couldn't be read because it isn't in the correct format.",
                                            APIError::Kind::decoding}));
    }
    // An answer nobody reads is not decoded at all.
    signIn();
    for (auto [status, body] : std::vector<std::pair<int, std::string>>{{204, ""}, {201, "this is not JSON"}}) {
        server.reply(DevServer::kRules, status, body);
        EXPECT_TRUE(createRule("Flag mentions of the launch date").has_value()) << status;
    }
}

TEST_F(APITests, MissingRequiredKeyFailsTheWholeAnswer) {
    server.reply(DevServer::kEmailVerify, 200, R"({"token":"t","user":{"userId":"u1"}})");
    auto result = await<APIResult<User>>(
        [&](auto done) { api()->verifyEmail("ann@example.com", "123456", done); });
    EXPECT_EQ(result.error().kind, APIError::Kind::decoding);
    EXPECT_FALSE(api()->token());
    EXPECT_FALSE(storedItem());
}

TEST_F(APITests, AnswersOverTheBodyCapAreRefusedByTheTransport) {
    std::string huge = R"({"findings":[)";
    while (huge.size() < desktop::Http::kMaxResponseBytes + 1024)
        huge += R"({"id":"slop","level":"warn","title":"padding padding padding padding"},)";
    huge += R"({"id":"x","level":"warn","title":"end"}]})";
    server.reply(DevServer::kScore, 200, huge);
    EXPECT_EQ(score().error(), (APIError{0, "The server's answer was too large.", APIError::Kind::transport}));
}

TEST_F(APITests, ARequestBodyThatIsNotUtf8IsNotSent) {
    auto error = score("bad \xc3\x28 text").error();
    EXPECT_EQ(error.kind, APIError::Kind::serialization);
    EXPECT_TRUE(server.requests().empty());
}

// ---- Faults ----

TEST_F(APITests, ConnectionRefusedIsATransportError) {
    int port = server.port();
    server.stop();
    sim.simDefaults().set(kestrel::Config::kBackendUrl, "http://127.0.0.1:" + std::to_string(port));
    auto error = score().error();
    EXPECT_EQ(error, (APIError{0, "Could not connect to the server.", APIError::Kind::transport}));
}

TEST_F(APITests, AServerThatNeverAnswersTimesOutWithoutBlockingTheMainLoop) {
    RawPeer peer(RawPeer::Mode::neverAnswer);
    sim.simDefaults().set(kestrel::Config::kBackendUrl, peer.url());
    sim.simHttp().setTimeoutLimit(0.3);
    std::optional<APIResult<ScoreResult>> result;
    auto started = std::chrono::steady_clock::now();
    api()->score("x", "slack", "live", [&](APIResult<ScoreResult> r) { result = std::move(r); });
    int fired = 0;
    auto timer = sim.runLoop().schedule(0.1, desktop::Repeat::yes, [&] { ++fired; });
    sim.advance(1.0);  // the main loop keeps running its timers meanwhile
    auto mainLoopTime = std::chrono::steady_clock::now() - started;
    EXPECT_LT(mainLoopTime, std::chrono::milliseconds(200));
    EXPECT_EQ(fired, 10);
    EXPECT_FALSE(result) << "no answer yet";
    ASSERT_TRUE(sim.settle());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->error(), (APIError{0, "The request timed out.", APIError::Kind::transport}));
}

TEST_F(APITests, SignInSpendsOneRequestsTimeInAllOnAServerThatNeverAnswers) {
    RawPeer peer(RawPeer::Mode::neverAnswer);
    sim.simDefaults().set(kestrel::Config::kBackendUrl, peer.url());
    sim.simHttp().setTimeoutLimit(0.3);  // the configuration call gives up after 0.3 s
    auto sent = await<APIResult<bool>>([&](auto done) { api()->startEmail("ann@example.com", done); });
    ASSERT_FALSE(sent);
    EXPECT_EQ(sent.error().message, "The request timed out.");
    auto requests = sim.simHttp().requests();
    ASSERT_EQ(requests.size(), 2u) << "the configuration, then the development login";
    EXPECT_LE(requests[0].timeoutSeconds, KestrelAPI::kSignInTimeout);
    // The first took its 0.3 s (libcurl may end it a hair early).
    EXPECT_LE(requests[1].timeoutSeconds, KestrelAPI::kSignInTimeout - 0.25)
        << "the second request gets only what the first left";
}

TEST_F(APITests, CodeSignInStoresTheSessionAndTracksSignedIn) {
    auto sent = startEmail("ann@example.com");
    ASSERT_TRUE(sent.has_value());
    EXPECT_TRUE(*sent);
    EXPECT_EQ(lastBody(DevServer::kEmailStart), (json{{"email", "ann@example.com"}}));
    EXPECT_FALSE(api()->token());

    auto user = await<APIResult<User>>([&](auto done) {
        api()->verifyEmail("ann@example.com", DevServer::codeFor("ann@example.com"), done);
    });
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(user->email, "ann@example.com");
    EXPECT_EQ(lastBody(DevServer::kEmailVerify),
              (json{{"email", "ann@example.com"}, {"code", DevServer::codeFor("ann@example.com")}}));
    ASSERT_TRUE(api()->token());
    EXPECT_EQ(api()->user(), *user);
    auto stored = desktop::json::decodeText<StoredSession>(*storedItem());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->token, *api()->token());
    EXPECT_EQ(stored->user, *user);
    ASSERT_FALSE(tracked.empty());
    EXPECT_EQ(tracked.back().name, "Signed In");
    EXPECT_EQ(tracked.back().kept, (json{{"method", "email_code"}}));
}

TEST_F(APITests, AWrongCodeCarriesTheServersMessage) {
    startEmail();
    auto user = await<APIResult<User>>(
        [&](auto done) { api()->verifyEmail("ann@example.com", "000000", done); });
    EXPECT_EQ(user.error(),
              (APIError{400, "That code is not right. Check the e-mail and try again."}));
    EXPECT_FALSE(api()->token());
}

TEST_F(APITests, DevLoginSignsInAtOnce) {
    server.reply(DevServer::kAuthConfig, 200, R"({"devLogin":true,"emailCode":false})");
    auto sent = startEmail("dev@example.com");
    ASSERT_TRUE(sent.has_value());
    EXPECT_FALSE(*sent);
    EXPECT_EQ(api()->user()->email, "dev@example.com");
    EXPECT_TRUE(storedItem());
    EXPECT_EQ(tracked.back().name, "Signed In");
    EXPECT_EQ(tracked.back().kept, (json{{"method", "dev"}}));
    EXPECT_TRUE(server.requests(DevServer::kEmailStart).empty());
}

TEST_F(APITests, EmailCodeWinsWhenBothFlagsAreSet) {
    server.reply(DevServer::kAuthConfig, 200, R"({"devLogin":true,"emailCode":true,"googleSignIn":true})");
    EXPECT_EQ(startEmail(), APIResult<bool>(true));
    EXPECT_TRUE(server.requests(DevServer::kDevLogin).empty());
}

TEST_F(APITests, AConfigThatCannotBeReadMeansDevLogin) {
    for (auto [status, body] : std::vector<std::pair<int, std::string>>{
             {404, "<html>Not Found</html>"}, {500, R"({"message":"down"})"}, {200, "not json"},
             {200, R"({"emailCode":"yes"})"}}) {
        api()->signOut();
        server.clearRequests();
        server.reply(DevServer::kAuthConfig, status, body);
        EXPECT_EQ(startEmail(), APIResult<bool>(false)) << body;
        EXPECT_EQ(server.requests(DevServer::kDevLogin).size(), 1u) << body;
        EXPECT_TRUE(api()->token());
    }
}

TEST_F(APITests, NeitherFlagSendsNothingElse) {
    for (const char* body : {R"({"devLogin":false,"emailCode":false})", "{}",
                             R"({"devLogin":null,"emailCode":null,"googleSignIn":true})"}) {
        server.clearRequests();
        server.reply(DevServer::kAuthConfig, 200, body);
        EXPECT_EQ(startEmail().error(), (APIError{0, "Email sign-in is not available on this server."}));
        ASSERT_EQ(server.requests().size(), 1u) << body;
        EXPECT_EQ(server.requests()[0].path, DevServer::kAuthConfig);
    }
}

TEST_F(APITests, AFailedDevLoginIsReported) {
    server.reply(DevServer::kAuthConfig, 404, "");
    server.reply(DevServer::kDevLogin, 403, R"({"error":"Development login is off."})");
    EXPECT_EQ(startEmail().error(), (APIError{403, "Development login is off."}));
}

TEST_F(APITests, RefreshReplacesTheUserAndRewritesTheItem) {
    signIn();
    auto before = *api()->user();
    score("please delve into this");
    int announcements = 0;
    auto observing = api()->observe([&] { ++announcements; });
    refreshMe();
    EXPECT_EQ(announcements, 1);
    ASSERT_TRUE(api()->user()->usage);
    EXPECT_EQ(api()->user()->usage->aiChecksUsed, 1);
    EXPECT_NE(*api()->user(), before);
    auto stored = desktop::json::decodeText<StoredSession>(*storedItem());
    EXPECT_EQ(stored->user, *api()->user());
    EXPECT_EQ(stored->token, *api()->token());
}

TEST_F(APITests, ARefreshThatFailsKeepsTheStoredUser) {
    signIn();
    auto before = *api()->user();
    server.reply(DevServer::kMe, 500, "{}");
    refreshMe();
    EXPECT_EQ(api()->user(), before);
    EXPECT_TRUE(api()->token());
}

TEST_F(APITests, ARefreshAnsweredAfterSignOutChangesNothing) {
    signIn();
    api()->refreshMe();
    api()->signOut();
    ASSERT_TRUE(sim.settle());
    EXPECT_FALSE(api()->user());
    EXPECT_FALSE(storedItem());
}

TEST_F(APITests, SignOutTracksOnlyWhenSignedInAndSignedOutCallsSendNothing) {
    api()->signOut();
    refreshMe();
    EXPECT_TRUE(tracked.empty());
    EXPECT_TRUE(sim.simHttp().requests().empty()) << "signed out, a refresh asks nothing";
    signIn();
    server.clearRequests();
    sim.simHttp().clearRequests();
    tracked.clear();
    int announcements = 0;
    auto observing = api()->observe([&] { ++announcements; });
    api()->signOut();
    ASSERT_EQ(tracked.size(), 1u);
    EXPECT_EQ(tracked[0].name, "Signed Out");
    EXPECT_EQ(tracked[0].kept, json::object());
    EXPECT_EQ(announcements, 1);
    EXPECT_FALSE(api()->token());
    EXPECT_FALSE(api()->user());
    EXPECT_FALSE(storedItem());
    ASSERT_TRUE(sim.settle());
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(backendRequests().empty());
}

TEST_F(APITests, ANewClientRestoresTheStoredSessionWithoutAsking) {
    auto user = signIn();
    auto token = *api()->token();
    KestrelAPI::resetShared();
    server.clearRequests();
    EXPECT_EQ(api()->token(), token);
    EXPECT_EQ(api()->user(), user);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(APITests, AStoredSessionThatCannotBeUsedStartsSignedOut) {
    for (const char* stored :
         {R"({"token":"t","user":{"userId":"u"}})", "{not json", R"({"user":{"email":"a@b.c"}})",
          "", R"({"token":"t\r\nx: 1","user":{"email":"a@b.c"}})"}) {
        sim.simSecureStore().plant(kestrel::Keychain::itemQuery(), stored);
        KestrelAPI::resetShared();
        EXPECT_FALSE(api()->token()) << stored;
        EXPECT_FALSE(api()->user()) << stored;
    }
}

// ---- Check calls ----

TEST_F(APITests, ScoreSendsTheEightKeys) {
    auto user = signIn();
    score("Body text\nwith a line");
    auto body = lastBody(DevServer::kScore);
    EXPECT_EQ(body, (json{{"userId", *user.userId},
                          {"subject", ""},
                          {"body", "Body text\nwith a line"},
                          {"platform", "slack"},
                          {"depth", "live"},
                          {"recipients", json::array()},
                          {"hasAttachment", false},
                          {"mentionsAttachment", false}}));
}

TEST_F(APITests, AUserWithoutAnIdSendsTheirEmail) {
    server.reply(DevServer::kAuthConfig, 200, R"({"devLogin":true})");
    server.reply(DevServer::kDevLogin, 200, R"({"token":"t1","user":{"email":"noid@example.com"}})");
    startEmail("noid@example.com");
    server.clearReply(DevServer::kScore);
    score();
    EXPECT_EQ(lastBody(DevServer::kScore)["userId"], "noid@example.com");
    EXPECT_EQ(server.requests(DevServer::kScore).at(0).header("authorization"), "Bearer t1");
}

TEST_F(APITests, RewriteSendsTheFiveKeysAndReturnsTheTextUntrimmed) {
    auto user = signIn();
    server.reply(DevServer::kRewrite, 200, R"({"text":"   "})");
    EXPECT_EQ(rewrite("Draft", "human"), APIResult<std::string>("   "));
    EXPECT_EQ(lastBody(DevServer::kRewrite), (json{{"userId", *user.userId},
                                                   {"subject", ""},
                                                   {"body", "Draft"},
                                                   {"mode", "human"},
                                                   {"platform", "mail"}}));
}

TEST_F(APITests, ARewriteWithoutUsableTextIsAnError) {
    for (const char* body : {R"({"text":""})", R"({"text":null})", "{}"}) {
        server.reply(DevServer::kRewrite, 200, body);
        EXPECT_EQ(rewrite().error(), (APIError{0, "The rewrite came back empty."})) << body;
    }
}

TEST_F(APITests, ACustomCheckIsRefusedLocallyWhenBlankOrSignedOut) {
    for (auto [prompt, error] : std::vector<std::pair<std::string, APIError>>{
             {" \n\t \u2003\n", {0, "Describe the check first."}}, {"Flag prices", {401, "Sign in to add checks."}}})
        EXPECT_EQ(createRule(prompt).error(), error) << prompt;
    EXPECT_TRUE(sim.simHttp().requests().empty());
}
TEST_F(APITests, ACustomCheckSendsTheEightKeysTrimmed) {
    signIn();
    ASSERT_TRUE(createRule("  \n Flag any mention of the launch date\n ").has_value());
    EXPECT_EQ(lastBody(DevServer::kRules), (json{{"name", "Flag any mention of the launch date"},
                                                 {"platforms", "all"},
                                                 {"triggerMode", "always"},
                                                 {"triggerLogic", "AND"},
                                                 {"checkType", "ai"},
                                                 {"aiPrompt", "Flag any mention of the launch date"},
                                                 {"level", "warn"},
                                                 {"active", true}}));
}

TEST_F(APITests, CustomCheckNamesCountUserPerceivedCharacters) {
    signIn();
    std::string sixty(60, 'a');
    createRule(sixty);
    EXPECT_EQ(lastBody(DevServer::kRules)["name"], sixty);

    std::string sixtyOne(61, 'b');
    createRule(sixtyOne);
    auto body = lastBody(DevServer::kRules);
    EXPECT_EQ(body["name"], std::string(57, 'b') + "…");
    EXPECT_EQ(desktop::unicode::graphemeCount(body["name"].get<std::string>()), 58u);
    EXPECT_EQ(body["aiPrompt"], sixtyOne);

    // Sixty family emoji (each several code points) is sixty characters.
    std::string family = "👨‍👩‍👧";
    std::string sixtyFamilies;
    for (int i = 0; i < 60; ++i) sixtyFamilies += family;
    createRule(sixtyFamilies);
    EXPECT_EQ(lastBody(DevServer::kRules)["name"], sixtyFamilies);
    createRule(sixtyFamilies + "e\u0301");
    auto cut = lastBody(DevServer::kRules)["name"].get<std::string>();
    EXPECT_EQ(desktop::unicode::graphemeCount(cut), 58u);
    EXPECT_TRUE(cut.ends_with(family + "…"));
}

TEST_F(APITests, ARefusedCustomCheckCarriesTheServersText) {
    signIn();
    server.reply(DevServer::kRules, 402, R"({"message":"Custom checks need the Pro plan."})");
    EXPECT_EQ(createRule("Flag prices").error(), (APIError{402, "Custom checks need the Pro plan."}));
}

// ---- Security ----

TEST_F(APITests, TheTokenNeverReachesTheLogOrAnalytics) {
    signIn();
    auto token = *api()->token();
    score("draft words that are private");
    server.reply(DevServer::kScore, 401, "{}");
    score("draft words that are private");
    ASSERT_TRUE(sim.settle());
    for (const auto& line : logLines()) EXPECT_EQ(line.find(token), std::string::npos) << line;
    for (const auto& request : sim.simHttp().requests()) {
        if (request.url.starts_with(server.url())) continue;
        ASSERT_TRUE(request.body);
        EXPECT_EQ(request.body->find(token), std::string::npos) << request.url;
        EXPECT_EQ(request.body->find("private"), std::string::npos) << request.url;
        for (const auto& [name, value] : request.headers) EXPECT_EQ(value.find(token), std::string::npos);
    }
    for (const auto& call : tracked) EXPECT_EQ(call.kept.dump().find(token), std::string::npos);
}

TEST_F(APITests, ASessionWhoseTokenCannotBeSentBackIsNotKept) {
    server.reply(DevServer::kAuthConfig, 200, R"({"devLogin":true})");
    for (const char* token : {R"(tok\r\nx-injected: 1)", R"(tok\n)", R"(tok\u0000en)"}) {
        server.reply(
            DevServer::kDevLogin, 200,
            std::string(R"({"token":")") + token + R"(","user":{"email":"a@example.com"}})");
        EXPECT_EQ(startEmail().error(), (APIError{0, KestrelAPI::kUnusableSession})) << token;
        EXPECT_FALSE(api()->token()) << token;
        EXPECT_FALSE(api()->user()) << token;
        EXPECT_FALSE(storedItem()) << token;
    }
    score();
    EXPECT_FALSE(server.requests(DevServer::kScore).at(0).header("authorization"));
}

}  // namespace
