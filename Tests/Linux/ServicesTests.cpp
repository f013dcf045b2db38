// The real desktop's clipboard, keyring, autostart entry and bundle.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "Desktop/Linux/GtkPasteboard.h"
#include "Desktop/Linux/SecretServiceStore.h"
#include "Desktop/Linux/XdgLoginItems.h"
#include "Linux/LinuxSupport.h"
#include "TestSupport.h"

using namespace testing_support;
using desktop::LoginItems;
using desktop::SecItemQuery;
namespace secstatus = desktop::secstatus;

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh item per test, so that runs never meet each other's items in the keyring.
SecItemQuery freshQuery() {
    std::random_device random;
    return {desktop::SecItemClass::genericPassword, "app.kestrel.test." + std::to_string(random()), "session"};
}

class ServicesTests : public GtkDesktopTest {};

class XdgLoginItemsTests : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* value = std::getenv("XDG_CONFIG_HOME")) saved_ = value;
        setenv("XDG_CONFIG_HOME", scratch.path().c_str(), 1);
    }
    void TearDown() override {
        if (saved_) setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        else unsetenv("XDG_CONFIG_HOME");
    }
    ScratchDirectory scratch;
    desktop::x11::XdgLoginItems items{"app.kestrel.Kestrel", "/opt/kestrel dir/bin/kestrel"};

private:
    std::optional<std::string> saved_;
};

}  // namespace

TEST_F(ServicesTests, TheClipboardHoldsWhatWasSetAndRefusesInvalidText) {
    desktop::x11::GtkPasteboard pasteboard;
    pasteboard.clearContents();
    EXPECT_TRUE(pasteboard.setString("Shorter: see you at 10 \u2014 Ann"));
    EXPECT_EQ(pasteboard.string(), "Shorter: see you at 10 \u2014 Ann");
    EXPECT_FALSE(pasteboard.setString("bad \xC3\x28"));
    EXPECT_EQ(pasteboard.string(), "Shorter: see you at 10 \u2014 Ann");
}

TEST_F(ServicesTests, TheKeyringKeepsOneItemPerServiceAndAccount) {
    desktop::x11::SecretServiceStore store;
    auto query = freshQuery();
    EXPECT_EQ(store.copyMatching(query).status, secstatus::itemNotFound);
    EXPECT_EQ(store.update(query, "{}"), secstatus::itemNotFound);

    EXPECT_EQ(store.add(query, R"({"token":"t-1"})", desktop::SecAccessibility::afterFirstUnlockThisDeviceOnly),
              secstatus::success);
    EXPECT_EQ(store.add(query, "{}", desktop::SecAccessibility::afterFirstUnlockThisDeviceOnly),
              secstatus::duplicateItem);
    EXPECT_EQ(store.update(query, R"({"token":"t-2 é"})"), secstatus::success);
    auto copied = store.copyMatching(query);
    EXPECT_EQ(copied.status, secstatus::success);
    EXPECT_EQ(copied.data, R"({"token":"t-2 é"})");
    // Read without holding the main loop: the answer comes through it.
    std::optional<desktop::SecCopyResult> later;
    store.copyMatchingLater(query, [&later](desktop::SecCopyResult result) { later = std::move(result); });
    EXPECT_FALSE(later) << "the keyring was waited for on the spot";
    ASSERT_TRUE(pumpUntil([&] { return later.has_value(); }));
    EXPECT_EQ(later->data, copied.data);
    // A store that goes before the keyring answers tells nobody.
    bool told = false;
    {
        desktop::x11::SecretServiceStore gone;
        gone.copyMatchingLater(query, [&told](desktop::SecCopyResult) { told = true; });
    }
    pump(0.3);
    EXPECT_FALSE(told);

    EXPECT_EQ(store.remove(query), secstatus::success);
    EXPECT_EQ(store.copyMatching(query).status, secstatus::itemNotFound);
    EXPECT_EQ(store.remove(query), secstatus::itemNotFound);
    EXPECT_TRUE(sim.simLog().lines().empty());
}

// Run by its own ctest entry, on a session bus where no keyring answers.
TEST_F(ServicesTests, WithoutAKeyringEveryCallFailsWithOneLogLine) {
    if (!std::getenv("KESTREL_TEST_NO_KEYRING")) GTEST_SKIP() << "needs a session without a keyring";
    desktop::x11::SecretServiceStore store;
    auto query = freshQuery();
    EXPECT_EQ(store.copyMatching(query).status, secstatus::interactionNotAllowed);
    std::optional<desktop::SecCopyResult> later;
    store.copyMatchingLater(query, [&later](desktop::SecCopyResult result) { later = std::move(result); });
    ASSERT_TRUE(pumpUntil([&] { return later.has_value(); }));
    EXPECT_EQ(later->status, secstatus::interactionNotAllowed);
    EXPECT_NE(store.add(query, "{}", desktop::SecAccessibility::afterFirstUnlockThisDeviceOnly), secstatus::success);
    auto lines = sim.simLog().lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("Kestrel: the keyring could not read the session: ")) << lines[0];
}

// Run by its own ctest entry: it locks the session's keyring.
TEST_F(ServicesTests, AKeyringLeftLockedGivesNoSessionAndOneLogLine) {
    if (!std::getenv("KESTREL_TEST_LOCK_KEYRING")) GTEST_SKIP() << "locks the session's keyring";
    desktop::x11::SecretServiceStore store;
    auto query = freshQuery();
    ASSERT_EQ(store.add(query, "{}", desktop::SecAccessibility::afterFirstUnlockThisDeviceOnly), secstatus::success);
    // The unlock prompt shows on this display; the person cancels it.
    for (const char* command :
         {"dbus-update-activation-environment DISPLAY XAUTHORITY",
          "gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets --method "
          "org.freedesktop.Secret.Service.Lock \"['/org/freedesktop/secrets/collection/login']\""})
        ASSERT_TRUE(g_spawn_command_line_sync(command, nullptr, nullptr, nullptr, nullptr)) << command;
    std::optional<desktop::SecCopyResult> later;
    store.copyMatchingLater(query, [&later](desktop::SecCopyResult result) { later = std::move(result); });
    // The prompt holds the keyboard while it shows: Escape reaches it.
    ASSERT_TRUE(pumpUntil([&] {
        if (!later)
            g_spawn_command_line_sync(
                "sh -c 'xdotool search --onlyvisible --class gcr-prompter >/dev/null && xdotool key Escape'", nullptr,
                nullptr, nullptr, nullptr);
        return later.has_value();
    }, 30));
    EXPECT_EQ(later->status, secstatus::interactionNotAllowed);
    EXPECT_FALSE(later->data);
    EXPECT_EQ(sim.simLog().lines(),
              std::vector<std::string>{"Kestrel: the keyring could not read the session: it stayed locked, so "
                                       "Kestrel starts signed out"});
}

TEST_F(XdgLoginItemsTests, RegisteringWritesAnAutostartEntryThatStartsTheProgram) {
    EXPECT_EQ(items.status(), LoginItems::Status::notRegistered);
    ASSERT_TRUE(items.registerApp().has_value());

    auto path = scratch.path() / "autostart" / "app.kestrel.Kestrel.desktop";
    EXPECT_EQ(items.entryPath(), path);
    std::string entry = readFile(path);
    EXPECT_TRUE(entry.starts_with("[Desktop Entry]\n"));
    EXPECT_NE(entry.find("\nExec=\"/opt/kestrel dir/bin/kestrel\"\n"), std::string::npos) << entry;
    EXPECT_EQ(items.status(), LoginItems::Status::enabled);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 1)
        << "no temporary file is left behind";

    ASSERT_TRUE(items.unregisterApp().has_value());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(items.status(), LoginItems::Status::notRegistered);
    EXPECT_TRUE(items.unregisterApp().has_value());
}

TEST_F(XdgLoginItemsTests, AHiddenEntryCountsAsOffAndAnUnwritableFolderIsAnError) {
    std::filesystem::create_directories(scratch.path() / "autostart");
    std::ofstream(items.entryPath()) << "[Desktop Entry]\nType=Application\nHidden=true\n";
    EXPECT_EQ(items.status(), LoginItems::Status::notRegistered);

    std::filesystem::remove_all(scratch.path() / "autostart");
    std::ofstream(scratch.path() / "autostart") << "a file where the folder belongs";
    auto result = items.registerApp();
    ASSERT_FALSE(result.has_value());
    EXPECT_NE(result.error().find("autostart"), std::string::npos) << result.error();
}
