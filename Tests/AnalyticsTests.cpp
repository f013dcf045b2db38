// Analytics payloads, decoded back from the requests the simulated transport recorded (the
// built-in endpoints are never contacted: the simulated desktop answers them offline).
#include <gtest/gtest.h>

#include <regex>

#include "BackendSupport.h"
#include "Desktop/Unicode.h"

namespace Analytics = kestrel::Analytics;
using kestrel::KestrelAPI;
using kestrel::SessionResponse;
using kestrel::User;
using nlohmann::json;

namespace {

std::string percentDecode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

class AnalyticsTests : public testing_support::BackendTest {
protected:
    std::string installId() { return kestrel::Prefs::installID(); }

    std::vector<desktop::HttpRequest> sent(const std::string& url) {
        EXPECT_TRUE(sim.settle());
        return sim.simHttp().requestsTo(url);
    }
    // The Mixpanel track payloads: one array with one object each.
    std::vector<json> mixpanel(const std::string& path = "/track?ip=1") {
        std::vector<json> out;
        for (const auto& r : sent(std::string(Analytics::kMixpanelEndpoint) + path)) {
            EXPECT_EQ(desktop::headerValue(r.headers, "content-type"), "application/x-www-form-urlencoded");
            EXPECT_TRUE(r.body->starts_with("data="));
            auto payload = json::parse(percentDecode(r.body->substr(5)));
            EXPECT_TRUE(payload.is_array());
            EXPECT_EQ(payload.size(), 1u);
            out.push_back(payload[0]);
        }
        return out;
    }
    std::vector<json> posthog() {
        std::vector<json> out;
        for (const auto& r : sent(std::string(Analytics::kPostHogEndpoint) + "/i/v0/e/")) {
            EXPECT_EQ(desktop::headerValue(r.headers, "content-type"), "application/json");
            out.push_back(json::parse(*r.body));
        }
        return out;
    }
    void signInAs(User user) {
        api()->store(SessionResponse{"secret-token", std::move(user)}, "dev");
        ASSERT_TRUE(sim.settle());
        sim.simHttp().clearRequests();
        tracked.clear();
    }
};

TEST_F(AnalyticsTests, AnAnonymousEventCarriesTheInstallIdentityAndAFreshInsertId) {
    Analytics::track("Send Anyway", {{"platform", "slack"}});
    Analytics::track("Send Anyway", {{"platform", "slack"}});
    auto mp = mixpanel();
    ASSERT_EQ(mp.size(), 2u);
    auto insertId = mp[0]["properties"]["$insert_id"].get<std::string>();
    EXPECT_TRUE(std::regex_match(insertId, std::regex("[0-9a-f]{32}"))) << insertId;
    EXPECT_NE(mp[1]["properties"]["$insert_id"], insertId);
    EXPECT_EQ(mp[0]["event"], "kestrel-Send Anyway");
    auto props = mp[0]["properties"];
    EXPECT_EQ(props["distinct_id"], "$device:" + installId());
    EXPECT_EQ(props["$device_id"], installId());
    EXPECT_FALSE(props.contains("$user_id"));
    EXPECT_EQ(props["token"], Analytics::kMixpanelToken);
    EXPECT_TRUE(props["time"].is_number_float());
    EXPECT_NEAR(props["time"].get<double>(),
                std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(), 60);
    EXPECT_EQ(props["product"], "kestrel");
    EXPECT_EQ(props["source"], "macos");
    EXPECT_EQ(props["app_version"], KESTREL_VERSION);
    EXPECT_EQ(props["install_id"], installId());
    EXPECT_EQ(props["signed_in"], false);
    EXPECT_EQ(props["$os"], "mac");
    EXPECT_EQ(props["platform"], "slack");
    EXPECT_FALSE(props.contains("kestrel_plan"));

    auto ph = posthog();
    ASSERT_EQ(ph.size(), 2u);
    EXPECT_EQ(ph[0]["api_key"], Analytics::kPostHogKey);
    EXPECT_EQ(ph[0]["event"], "kestrel-Send Anyway");
    EXPECT_EQ(ph[0]["distinct_id"], installId());
    EXPECT_EQ(ph[0]["properties"]["$process_person_profile"], true);
    EXPECT_EQ(ph[0]["properties"]["install_id"], installId());
    EXPECT_FALSE(ph[0]["properties"].contains("token"));
    EXPECT_TRUE(std::regex_match(ph[0]["timestamp"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(ph[0].size(), 5u);
}

TEST_F(AnalyticsTests, ASignedInEventCarriesTheEmailAndPlan) {
    signInAs(User{.userId = "u1", .email = "ann@example.com", .plan = "Pro"});
    Analytics::track("Panel Opened", {{"from", "pill"}});
    auto props = mixpanel().at(0)["properties"];
    EXPECT_EQ(props["distinct_id"], "ann@example.com");
    EXPECT_EQ(props["$user_id"], "ann@example.com");
    EXPECT_EQ(props["$device_id"], installId());
    EXPECT_EQ(props["signed_in"], true);
    EXPECT_EQ(props["kestrel_plan"], "Pro");
    auto ph = posthog().at(0);
    EXPECT_EQ(ph["distinct_id"], "ann@example.com");
    EXPECT_EQ(ph["properties"]["kestrel_plan"], "Pro");

    signInAs(User{.email = "ann@example.com"});
    Analytics::track("Dashboard Opened", {{"from", "menu"}});
    EXPECT_FALSE(mixpanel().at(0)["properties"].contains("kestrel_plan")) << "no plan, no key";
}

TEST_F(AnalyticsTests, ValuesAreBoundedAndOnlyAllowedKeysKept) {
    std::string reason;
    for (int i = 0; i < 200; ++i) reason += "e\u0301";  // 200 characters, 400 code points
    json rules = json::array();
    for (int i = 0; i < 30; ++i) rules.push_back("rule" + std::to_string(i) + std::string(100, 'x'));
    Analytics::track("Sign In Failed", {{"reason", reason},
                                        {"rules", rules},
                                        {"depth", 1.5},
                                        {"risks", 3},
                                        {"enabled", true},
                                        {"text", "the whole draft"},
                                        {"setting", nullptr},
                                        {"kind", {{"nested", 1}}},
                                        {"findings", json::array({"a", 1})},
                                        {"warnings", json::array()},
                                        {"step", -2}});
    ASSERT_EQ(tracked.size(), 1u);
    const auto& kept = tracked[0].kept;
    EXPECT_EQ(desktop::unicode::graphemeCount(kept["reason"].get<std::string>()), 80u);
    EXPECT_EQ(kept["reason"].get<std::string>(), desktop::unicode::graphemePrefix(reason, 80));
    ASSERT_EQ(kept["rules"].size(), 20u);
    EXPECT_EQ(kept["rules"][19], ("rule19" + std::string(100, 'x')).substr(0, 80));
    EXPECT_EQ(kept["risks"], 3);
    EXPECT_EQ(kept["enabled"], true);
    EXPECT_EQ(kept["warnings"], json::array());
    EXPECT_EQ(kept["step"], -2);
    for (const char* dropped : {"depth", "text", "setting", "kind", "findings"})
        EXPECT_FALSE(kept.contains(dropped)) << dropped;

    auto props = mixpanel().at(0)["properties"];
    EXPECT_EQ(props["reason"], kept["reason"]);
    EXPECT_EQ(props["rules"], kept["rules"]);
    EXPECT_FALSE(props.contains("text"));
    EXPECT_FALSE(props.contains("depth"));
    EXPECT_EQ(posthog().at(0)["properties"]["rules"].size(), 20u);
}

TEST_F(AnalyticsTests, TheMixpanelBodyIsFormEncodedEverywhere) {
    Analytics::track("Rule Muted", {{"rule", "pii"}, {"level", "risk \"quoted\" é {x}"}});
    auto requests = sent(std::string(Analytics::kMixpanelEndpoint) + "/track?ip=1");
    ASSERT_EQ(requests.size(), 1u);
    const auto& body = *requests[0].body;
    EXPECT_TRUE(body.starts_with("data="));
    auto encoded = body.substr(5);
    EXPECT_EQ(encoded.find('{'), std::string::npos);
    EXPECT_EQ(encoded.find('"'), std::string::npos);
    EXPECT_TRUE(std::regex_match(encoded, std::regex("([A-Za-z0-9]|%[0-9A-F]{2})*")));
    EXPECT_NE(encoded.find("%24insert%5Fid"), std::string::npos) << "$ and _ are escaped too";
    EXPECT_EQ(json::parse(percentDecode(encoded))[0]["properties"]["level"], "risk \"quoted\" é {x}");
}

TEST_F(AnalyticsTests, IdentifySendsTheProfileThenSignedIn) {
    api()->store(SessionResponse{"secret-token", User{.userId = "u1", .email = "ann@example.com", .name = "Ann"}},
                 "email_code");
    auto engage = mixpanel("/engage?ip=1");
    ASSERT_EQ(engage.size(), 1u);
    EXPECT_EQ(engage[0]["$token"], Analytics::kMixpanelToken);
    EXPECT_EQ(engage[0]["$distinct_id"], "ann@example.com");
    auto profile = engage[0]["$set"];
    EXPECT_EQ(profile["$email"], "ann@example.com");
    EXPECT_EQ(profile["kestrel_user"], true);
    EXPECT_EQ(profile["kestrel_plan"], "free");
    EXPECT_EQ(profile["kestrel_install_id"], installId());
    EXPECT_EQ(profile["kestrel_sign_in_method"], "email_code");
    EXPECT_EQ(profile["kestrel_mac_version"], KESTREL_VERSION);
    EXPECT_TRUE(std::regex_match(profile["kestrel_last_seen"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(profile["$name"], "Ann");
    EXPECT_EQ(profile.size(), 8u);

    auto ph = posthog();
    ASSERT_EQ(ph.size(), 2u);
    EXPECT_EQ(ph[0]["event"], "$identify");
    EXPECT_EQ(ph[0]["distinct_id"], "ann@example.com");
    EXPECT_EQ(ph[0]["properties"], (json{{"$anon_distinct_id", installId()}, {"$set", profile}}));
    EXPECT_EQ(ph[1]["event"], "kestrel-Signed In");
    EXPECT_EQ(ph[1]["properties"]["method"], "email_code");
    EXPECT_EQ(ph[1]["properties"]["signed_in"], true);

    auto track = mixpanel();
    ASSERT_EQ(track.size(), 1u);
    EXPECT_EQ(track[0]["event"], "kestrel-Signed In");
    EXPECT_EQ(track[0]["properties"]["distinct_id"], "ann@example.com");
    ASSERT_EQ(tracked.size(), 1u);
    EXPECT_EQ(tracked[0].name, "Signed In");

    api()->store(SessionResponse{"t", User{.email = "bea@example.com", .plan = "org"}}, "dev");
    auto unnamed = mixpanel("/engage?ip=1").at(1)["$set"];
    EXPECT_FALSE(unnamed.contains("$name"));
    EXPECT_EQ(unnamed["kestrel_plan"], "org");
}

TEST_F(AnalyticsTests, AnEmptyTokenOrKeySilencesThatServiceOnly) {
    Analytics::Endpoints quiet;
    quiet.mixpanelToken = "";
    Analytics::setEndpoints(quiet);
    Analytics::track("App Launched");
    EXPECT_TRUE(mixpanel().empty());
    EXPECT_EQ(posthog().size(), 1u);
    quiet = {};
    quiet.posthogKey = "";
    Analytics::setEndpoints(quiet);
    sim.simHttp().clearRequests();
    Analytics::track("App Launched");
    EXPECT_EQ(mixpanel().size(), 1u);
    EXPECT_TRUE(posthog().empty());
    Analytics::setEndpoints(std::nullopt);
}

TEST_F(AnalyticsTests, TrackNeverWaitsForTheNetwork) {
    testing_support::RawPeer silent(testing_support::RawPeer::Mode::neverAnswer);
    Analytics::setEndpoints(Analytics::Endpoints{.mixpanel = silent.url(), .posthog = silent.url()});
    sim.simHttp().setTimeoutLimit(0.2);
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) Analytics::track("App Launched");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
    EXPECT_EQ(tracked.size(), 4u);
    EXPECT_TRUE(sim.settle());
    Analytics::setEndpoints(std::nullopt);
}

TEST_F(AnalyticsTests, TheStandInRecordsBothServicesIncludingLargeFormBodies) {
    Analytics::setEndpoints(Analytics::Endpoints{.mixpanel = server.url(), .posthog = server.url()});
    std::string smileys;
    for (int j = 0; j < 80; ++j) smileys += "😀";
    json rules = json::array();
    for (int i = 0; i < 20; ++i) rules.push_back(smileys);
    Analytics::track("Send Blocked", {{"platform", "slack"}, {"rules", rules}});
    ASSERT_TRUE(sim.settle());
    auto track = server.requests(kestrel::devserver::DevServer::kMixpanelTrack);
    ASSERT_EQ(track.size(), 1u);
    EXPECT_GT(track[0].body.size(), 8192u) << "over cpp-httplib's default form limit";
    auto events = server.mixpanelEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["event"], "kestrel-Send Blocked");
    EXPECT_EQ(events[0]["properties"]["rules"], tracked.at(0).kept["rules"]);
    ASSERT_EQ(server.posthogEvents().size(), 1u);
    EXPECT_EQ(server.posthogEvents()[0]["event"], "kestrel-Send Blocked");
    Analytics::setEndpoints(std::nullopt);
}

TEST_F(AnalyticsTests, AnEventWhoseTextIsNotUtf8IsDroppedButStillObserved) {
    Analytics::track("Sign In Failed", {{"reason", "bad \xff bytes"}});
    EXPECT_EQ(tracked.size(), 1u);
    EXPECT_TRUE(mixpanel().empty());
    EXPECT_TRUE(posthog().empty());
}

}  // namespace
