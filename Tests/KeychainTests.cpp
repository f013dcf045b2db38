// The account records, the keychain item and the simulated secure store.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <fstream>

#include "Kestrel/API.h"
#include "Kestrel/Keychain.h"
#include "TestSupport.h"

using desktop::SecAccessibility;
using desktop::sim::SimSecureStore;
using kestrel::AuthConfig;
using kestrel::SessionResponse;
using kestrel::StoredSession;
using kestrel::User;
using nlohmann::json;
namespace secstatus = desktop::secstatus;

namespace {

class KeychainTests : public testing_support::SimDesktopTest {
protected:
    SimSecureStore& store() { return sim.simSecureStore(); }
};

TEST_F(KeychainTests, SavingKeepsOneOwnerDeviceItemWithTheLatestPayload) {
    kestrel::Keychain::save("first");
    kestrel::Keychain::save("payload one");
    auto items = store().items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].query.itemClass, desktop::SecItemClass::genericPassword);
    EXPECT_EQ(items[0].query.service, "com.getkestrel.mac");
    EXPECT_EQ(items[0].query.account, "session");
    EXPECT_EQ(items[0].data, "payload one");
    EXPECT_EQ(items[0].accessibility, SecAccessibility::afterFirstUnlockThisDeviceOnly);
    EXPECT_EQ(kestrel::Keychain::load(), "payload one");
}

TEST_F(KeychainTests, AnUpdateThatFailsOtherwiseAddsNothing) {
    store().failNext(SimSecureStore::Operation::update, secstatus::interactionNotAllowed);
    kestrel::Keychain::save("lost");
    EXPECT_TRUE(store().items().empty());
    EXPECT_FALSE(kestrel::Keychain::load());
}

TEST_F(KeychainTests, FailuresAreAbsences) {
    kestrel::Keychain::save("kept");
    store().failNext(SimSecureStore::Operation::copy, secstatus::interactionNotAllowed);
    EXPECT_FALSE(kestrel::Keychain::load());
    store().failNext(SimSecureStore::Operation::remove, secstatus::ioError);
    kestrel::Keychain::remove();
    EXPECT_EQ(kestrel::Keychain::load(), "kept") << "a failed delete leaves the item";
    kestrel::Keychain::remove();
    EXPECT_FALSE(kestrel::Keychain::load());
    kestrel::Keychain::remove();  // nothing left: not an error either
}

TEST(SimSecureStoreFileTests, PersistsOwnerOnlyAndReloads) {
    testing_support::ScratchDirectory dir;
    auto file = dir.path() / "state" / "keychain.json";
    desktop::SecItemQuery query{desktop::SecItemClass::genericPassword, "com.getkestrel.mac", "session"};
    std::string bytes = std::string("{\"token\":\"t\"}\n\x00\xff", 16);
    {
        SimSecureStore store(file);
        EXPECT_EQ(store.add(query, bytes, SecAccessibility::afterFirstUnlockThisDeviceOnly), 0);
    }
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);
    SimSecureStore reloaded(file);
    EXPECT_EQ(reloaded.copyMatching(query).data, bytes);
    EXPECT_EQ(reloaded.item(query)->accessibility, SecAccessibility::afterFirstUnlockThisDeviceOnly);
    EXPECT_EQ(reloaded.remove(query), 0);
    SimSecureStore empty(file);
    EXPECT_TRUE(empty.items().empty());
}

TEST(SimSecureStoreFileTests, AnUnreadableFileIsMovedAsideAndStartsEmpty) {
    const std::pair<const char*, const char*> cases[] = {
        {"{ not json", "it is not JSON"},
        {R"({"service": "com.getkestrel.mac"})", "it is not a JSON list"},
        {R"([{"service": "com.getkestrel.mac", "account": "session", "data": "7b7"}])",
         "an item in it is malformed"},
    };
    for (const auto& [text, why] : cases) {
        testing_support::ScratchDirectory dir;
        dir.write("keychain.json", text);
        std::vector<std::string> lines;
        SimSecureStore store(dir.path() / "keychain.json",
                             [&](std::string line) { lines.push_back(line); });
        EXPECT_TRUE(store.items().empty()) << why;
        store.plant({desktop::SecItemClass::genericPassword, "s", "a"}, "new");
        ASSERT_EQ(lines.size(), 1u) << why;
        EXPECT_THAT(lines[0], testing::HasSubstr(std::string(" could not be read (") + why +
                                                 "); moved it to "));
        auto aside = lines[0].substr(lines[0].find("moved it to ") + 12);
        aside = aside.substr(0, aside.find(','));
        std::ifstream kept(aside);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), text) << why;
    }
}

TEST_F(KeychainTests, TheConsoleKeepsTheKeychainInItsStateDirectory) {
    testing_support::ScratchDirectory dir;
    {
        desktop::sim::SimDesktop console(desktop::sim::SimOptions{desktop::Clock::virtualTime, dir.path()});
        desktop::InstallGuard installed(console);
        kestrel::Keychain::save("kept between runs");
    }
    desktop::sim::SimDesktop again(desktop::sim::SimOptions{desktop::Clock::virtualTime, dir.path()});
    desktop::InstallGuard installed(again);
    EXPECT_EQ(kestrel::Keychain::load(), "kept between runs");
}

// ---- Records ----

TEST(AccountRecordTests, PlanLabels) {
    auto label = [](std::optional<std::string> plan) {
        return User{.email = "a@b.c", .plan = std::move(plan)}.planLabel();
    };
    EXPECT_EQ(label("ORG"), "Organisation");
    EXPECT_EQ(label("Pro"), "Pro");
    EXPECT_EQ(label("enterprise"), "Free");
    EXPECT_EQ(label(std::nullopt), "Free");
    EXPECT_EQ(label(""), "Free");
    EXPECT_EQ(label("team"), "Free");
}

TEST(AccountRecordTests, DecodingNeedsTheRequiredKeysOfTheRightKinds) {
    auto user = User::decode(json::parse(R"({"email":"a@b.c","userId":null,"name":null,"plan":"pro","usage":null,"x":1})"));
    ASSERT_TRUE(user);
    EXPECT_EQ(*user, (User{.email = "a@b.c", .plan = "pro"}));
    for (const char* bad : {R"({"userId":"u"})", R"({"email":null})", R"({"email":7})",
                            R"({"email":"a@b.c","usage":{"aiChecksUsed":1.5}})", "[]"})
        EXPECT_FALSE(User::decode(json::parse(bad))) << bad;
    auto config = AuthConfig::decode(json::parse(R"({"emailCode":true,"devLogin":null})"));
    ASSERT_TRUE(config);
    EXPECT_EQ(config->emailCode, true);
    EXPECT_FALSE(config->devLogin);
    EXPECT_FALSE(config->googleSignIn);
    EXPECT_FALSE(AuthConfig::decode(json::parse(R"({"emailCode":"true"})")));
    EXPECT_TRUE(SessionResponse::decode(json::parse(R"({"token":"t","user":{"email":"a@b.c"}})")));
    for (const char* bad : {R"({"token":"t"})", R"({"user":{"email":"a@b.c"}})"})
        EXPECT_FALSE(SessionResponse::decode(json::parse(bad))) << bad;
    for (const char* bad : {R"({"token":"t","user":null})", R"({"token":"t","user":{}})"})
        EXPECT_FALSE(StoredSession::decode(json::parse(bad))) << bad;
}

TEST(AccountRecordTests, EncodingWritesOnlyWhatIsThereAndRoundTrips) {
    auto bare = User::decode(json::parse(R"({"email":"a@b.c","userId":"u1"})"));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->encode(), (json{{"email", "a@b.c"}, {"userId", "u1"}}));
    StoredSession session{"tok", User{.userId = "u1", .email = "a@b.c", .name = "Ann", .plan = "pro",
                                      .usage = User::Usage{.aiChecksUsed = 1, .aiChecksLimit = 50}}};
    EXPECT_EQ(session.encode(), json::parse(R"({"token":"tok","user":{"email":"a@b.c","userId":"u1",
        "name":"Ann","plan":"pro","usage":{"aiChecksUsed":1,"aiChecksLimit":50}}})"));
    EXPECT_EQ(StoredSession::decode(session.encode()), session);
}

}  // namespace
