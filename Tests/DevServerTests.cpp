// The backend stand-in on its own: determinism, canned replies, the request log, ingestion.
#include <gtest/gtest.h>

#include <regex>

#include "DevServer/DevServer.h"
#include "Desktop/CurlHttp.h"

using desktop::CurlHttp;
using desktop::HttpRequest;
using kestrel::devserver::DevServer;
using nlohmann::json;

namespace {

class DevServerTests : public ::testing::Test {
protected:
    std::vector<std::string> announced;
    std::mutex announcedMutex;
    DevServer server{DevServer::Options{.announce = [this](const std::string& line) {
        std::lock_guard lock(announcedMutex);
        announced.push_back(line);
    }}};
    CurlHttp http;

    DevServerTests() { EXPECT_TRUE(server.start()); }

    desktop::HttpResponse call(const std::string& method, const std::string& path,
                               std::optional<json> body = std::nullopt,
                               std::optional<std::string> token = std::nullopt) {
        HttpRequest r;
        r.method = method;
        r.url = server.url() + path;
        r.headers.emplace_back("content-type", "application/json");
        if (token) r.headers.emplace_back("authorization", "Bearer " + *token);
        if (body) r.body = body->dump();
        auto result = http.send(r);
        EXPECT_TRUE(result) << result.error().message;
        return result.value_or(desktop::HttpResponse{});
    }
    std::string signIn(const std::string& email) {
        call("POST", DevServer::kEmailStart, json{{"email", email}});
        auto verified = call("POST", DevServer::kEmailVerify,
                             json{{"email", email}, {"code", DevServer::codeFor(email)}});
        EXPECT_EQ(verified.status, 200) << verified.body;
        return json::parse(verified.body)["token"];
    }
};

TEST_F(DevServerTests, StartingACodeAnnouncesSixDigitsThatFollowTheAddress) {
    auto code = DevServer::codeFor("ann@example.com");
    EXPECT_TRUE(std::regex_match(code, std::regex("[0-9]{6}")));
    EXPECT_EQ(DevServer::codeFor("ANN@example.com"), code);
    EXPECT_NE(DevServer::codeFor("bob@example.com"), code);
    auto started = call("POST", DevServer::kEmailStart, json{{"email", "ann@example.com"}});
    EXPECT_EQ(started.status, 200);
    std::lock_guard lock(announcedMutex);
    EXPECT_EQ(announced, std::vector<std::string>{"sign-in code for ann@example.com: " +
                                                  DevServer::codeFor("ann@example.com")});
}

TEST_F(DevServerTests, RefusesWrongCodesAndUnknownTokens) {
    call("POST", DevServer::kEmailStart, json{{"email", "ann@example.com"}});
    auto wrong = call("POST", DevServer::kEmailVerify, json{{"email", "ann@example.com"}, {"code", "x"}});
    EXPECT_EQ(wrong.status, 400);
    EXPECT_TRUE(json::parse(wrong.body)["message"].is_string());
    EXPECT_EQ(call("POST", DevServer::kEmailStart, json{{"email", "not an address"}}).status, 400);
    EXPECT_EQ(call("GET", DevServer::kMe, std::nullopt, "nope").status, 401);
    EXPECT_EQ(call("POST", DevServer::kScore, json{{"body", "x"}}).status, 401);
    EXPECT_EQ(call("POST", DevServer::kRewrite, json{{"body", "x"}, {"mode", "human"}}).status, 401);
    EXPECT_EQ(call("POST", DevServer::kRules, json{{"name", "x"}}).status, 401);
    EXPECT_EQ(call("POST", DevServer::kScore, "not an object").status, 400);
    EXPECT_EQ(call("GET", "/nowhere").status, 404);
}

TEST_F(DevServerTests, ChecksCountAgainstTheAllowance) {
    auto token = signIn("ann@example.com");
    for (int i = 0; i < DevServer::kFreeChecks; ++i) {
        auto scored = call("POST", DevServer::kScore, json{{"body", "fine"}}, token);
        ASSERT_EQ(json::parse(scored.body)["aiLimited"], false);
    }
    auto limited = call("POST", DevServer::kScore, json{{"body", "fine"}}, token);
    EXPECT_EQ(json::parse(limited.body), (json{{"aiLimited", true}}));
    auto me = json::parse(call("GET", DevServer::kMe, std::nullopt, token).body);
    EXPECT_EQ(me["usage"]["aiChecksUsed"], DevServer::kFreeChecks);
    EXPECT_EQ(me["plan"], "free");
}

TEST_F(DevServerTests, RewritesAndRules) {
    auto token = signIn("pat+pro@example.com");
    auto human = call("POST", DevServer::kRewrite,
                      json{{"body", "Let us Leverage this and delve into it."}, {"mode", "human"}}, token);
    EXPECT_EQ(json::parse(human.body)["text"], "Let us use this and look at it.");
    EXPECT_EQ(call("POST", DevServer::kRewrite, json{{"body", "x"}, {"mode", "pirate"}}, token).status, 400);
    auto added = call("POST", DevServer::kRules, json{{"name", "Prices"}, {"aiPrompt", "Flag prices"}}, token);
    EXPECT_EQ(added.status, 201);
    auto listed = json::parse(call("GET", DevServer::kRules, std::nullopt, token).body);
    ASSERT_EQ(listed["rules"].size(), 1u);
    EXPECT_EQ(listed["rules"][0]["aiPrompt"], "Flag prices");
    EXPECT_EQ(json::parse(call("GET", DevServer::kMe, std::nullopt, token).body)["plan"], "pro");
}

TEST_F(DevServerTests, StopsWhileAClientKeepsItsConnection) {
    call("GET", DevServer::kAuthConfig);  // the client's handle keeps the connection alive
    auto started = std::chrono::steady_clock::now();
    server.stop();
    server.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    HttpRequest r{.url = server.url() + DevServer::kAuthConfig};
    EXPECT_FALSE(http.send(r));
}

}  // namespace
