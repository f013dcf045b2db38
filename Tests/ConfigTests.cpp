#include "Kestrel/Config.h"

#include <gmock/gmock.h>

#include "TestSupport.h"

using namespace kestrel;
namespace flags = desktop::keyflags;

namespace {
const SupportedApp& app(std::string_view name) {
    for (const auto& a : SupportedApp::all())
        if (a.name == name) return a;
    throw std::logic_error("no such app");
}
desktop::KeyEvent key(int64_t code, uint64_t modifiers) {
    return desktop::KeyEvent{desktop::KeyEventType::keyDown, code, modifiers, 0};
}
}  // namespace

TEST(KeyChordTests, MatchesExactlyTheHeldModifiers) {
    struct Case {
        const char* app;
        int64_t keyCode;
        uint64_t flags;
        bool matches;
    };
    const Case cases[] = {
        {"outlook", KeyChord::kKeypadEnter, flags::command, true},
        {"slack", KeyChord::kKeypadEnter, flags::numericPad, true},
        {"mail", KeyChord::kKeypadEnter, flags::command | flags::shift, false},
        {"slack", KeyChord::kReturn, flags::shift, false},
        {"slack", KeyChord::kReturn, flags::capsLock, true},
        {"slack", KeyChord::kReturn, flags::function | 0x100, true},
        {"mail", 2, flags::command | flags::shift, true},
        {"mail", 2, flags::command | flags::shift | flags::option, false},
        {"mail", 2, flags::command, false},
        {"outlook", KeyChord::kReturn, 0, false},
        {"teams", KeyChord::kReturn, flags::control, false},
        {"messages", 0, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app(c.app).send.matches(key(c.keyCode, c.flags)), c.matches)
            << c.app << " " << c.keyCode << " " << std::hex << c.flags;
    }
}

TEST(SupportedAppTests, FindsLinuxAppsByAnyOfTheirNamesWithoutCase) {
    struct Case {
        std::optional<std::string> bundleID;
        std::vector<std::string> identifiers;
        std::optional<std::string> row;
    };
    const std::vector<Case> cases = {
        {"com.slack.Slack", {"slack", "Slack"}, "com.tinyspeck.slackmacgap"},
        // Thunderbird's composer names itself after its profile; its executable ends in -bin.
        {"Msgcompose", {"thunderbird-default", "Msgcompose", "thunderbird-bin"}, "org.mozilla.Thunderbird"},
        {"Msgcompose", {"Msgcompose", "thunderbird-bin"}, "org.mozilla.Thunderbird"},
        // A Chromium app window of a chat app's class is that app; a browser alone is none.
        {"Slack", {"chromium", "Slack", "chromium"}, "com.tinyspeck.slackmacgap"},
        {"Chromium", {"chromium", "Chromium", "chromium"}, std::nullopt},
        {"org.gnome.Evolution", {"evolution", "Evolution"}, "org.gnome.Evolution"},
        {"Teams-For-Linux", {}, "com.microsoft.teams2"},
        {"com.discordapp.Discord", {}, "com.hnc.Discord"},
        {"com.apple.mail", {}, "com.apple.mail"},
        // Bundle ids keep their exact comparison; unknown names find nothing.
        {"com.apple.Mail", {}, std::nullopt},
        {"org.example.Notes", {"notes", "Notes"}, std::nullopt},
        {std::nullopt, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        auto app = SupportedApp::forApplication({c.bundleID, 42, c.identifiers});
        EXPECT_EQ(app ? std::optional(app->bundleID) : std::nullopt, c.row) << c.bundleID.value_or("none");
    }
}

TEST(SupportedAppTests, FindsWebAppsByTheirPagesHostInTheirLinuxForm) {
    struct Case {
        const char* address;
        std::optional<std::string> label;
        std::string chord;
    };
    const Case cases[] = {
        {"https://outlook.office.com/mail/", "Outlook on the web", "Ctrl+Enter"},
        {"https://outlook.live.com/mail/0/", "Outlook on the web", "Ctrl+Enter"},
        {"https://app.slack.com/client/T1/C1", "Slack", "Enter"},
        {"https://teams.cloud.microsoft/v2/", "Microsoft Teams", "Enter"},
        {"https://ptb.discord.com/channels/1/2", "Discord", "Enter"},
        {"https://mail.google.com/mail/u/0/#inbox", "Gmail", "Ctrl+Enter"},
        {"HTTPS://MAIL.GOOGLE.COM/", "Gmail", "Ctrl+Enter"},
        // Other pages, look-alike hosts and what is not a web address are no web app.
        {"https://www.google.com/search?q=mail.google.com", std::nullopt, ""},
        {"https://mail.google.com.example.org/", std::nullopt, ""},
        {"https://support.discord.com/", std::nullopt, ""},
        {"file:///home/ann/mail.google.com.html", std::nullopt, ""},
        {"about:blank", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        auto app = SupportedApp::forPage(c.address);
        ASSERT_EQ(app ? std::optional(app->label) : std::nullopt, c.label) << c.address;
        if (!app) continue;
        EXPECT_EQ(app->send.label, c.chord) << c.address;
        // Ctrl where the Mac holds Command.
        bool ctrl = c.chord == "Ctrl+Enter";
        EXPECT_EQ(app->send.matches(key(KeyChord::kReturn, flags::control)), ctrl) << c.address;
        EXPECT_EQ(app->send.matches(key(KeyChord::kReturn, 0)), !ctrl) << c.address;
        EXPECT_FALSE(app->send.matches(key(KeyChord::kReturn, flags::command))) << c.address;
    }
    const std::vector<std::vector<std::string>> browsers = {
        {"chromium"}, {"Navigator", "firefox-esr"}, {"google-chrome"}, {"brave-browser"}, {"microsoft-edge"}};
    for (const auto& names : browsers)
        EXPECT_TRUE(SupportedApp::isBrowser({std::nullopt, 42, names})) << names.back();
    EXPECT_FALSE(SupportedApp::isBrowser({"org.gnome.Evolution", 42, {"evolution"}}));
}

class PrefsTests : public testing_support::SimDesktopTest {};

TEST_F(PrefsTests, InstallIDIsCreatedOnceInLowerCase) {
    auto first = Prefs::installID();
    auto writes = sim.simDefaults().writes();
    EXPECT_EQ(Prefs::installID(), first);
    EXPECT_EQ(sim.simDefaults().writes(), writes);
    EXPECT_THAT(first, testing::MatchesRegex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}"));
    sim.defaults().set("installID", std::string("Kept-As-Is"));
    EXPECT_EQ(Prefs::installID(), "Kept-As-Is");
}

TEST_F(PrefsTests, DisabledRulesAreStoredSortedOnce) {
    Prefs::setRule("pii", true);
    Prefs::setRule("pii", true);
    EXPECT_EQ(Prefs::disabledRules(), std::vector<std::string>{"pii"});
    Prefs::setRule("voice", true);
    Prefs::setRule("attach", true);
    Prefs::setRule("pii", false);
    Prefs::setRule("absent", false);
    EXPECT_EQ(sim.defaults().stringArray("disabledRules"),
              (std::vector<std::string>{"attach", "voice"}));
    sim.defaults().set("disabledRules", std::string("not an array"));
    EXPECT_TRUE(Prefs::disabledRules().empty());
    Prefs::setRule("link", true);
    EXPECT_EQ(Prefs::disabledRules(), std::vector<std::string>{"link"});
}

TEST_F(PrefsTests, BackendUrlIsTrimmedOrFallsBack) {
    EXPECT_EQ(Config::backend().text, Config::kDefaultBackend);
    struct Case {
        const char* stored;
        const char* expected;
    };
    const Case cases[] = {
        {"  http://127.0.0.1:8080/// ", "http://127.0.0.1:8080"},
        {"https://api.example.test/v1/", "https://api.example.test/v1"},
        {"not a url", Config::kDefaultBackend},
        {"/// ", Config::kDefaultBackend},
        {"ftp://files.example.test", Config::kDefaultBackend},
        {"", Config::kDefaultBackend},
    };
    for (const auto& c : cases) {
        sim.defaults().set("backendUrl", std::string(c.stored));
        EXPECT_EQ(Config::backend().text, c.expected) << '"' << c.stored << '"';
    }
    sim.defaults().set("backendUrl", int64_t{3});
    EXPECT_EQ(Config::backend().text, Config::kDefaultBackend);
}

TEST_F(PrefsTests, EngineDirectoryPrefersTheBundleWhenItHasRules) {
    const auto sourceTree = std::filesystem::path(KESTREL_SOURCE_ENGINE);
    EXPECT_EQ(std::filesystem::weakly_canonical(Resources::engineDirectory()),
              std::filesystem::weakly_canonical(sourceTree));
    testing_support::ScratchDirectory resources;
    resources.write("engine/slop.js", "");
    sim.simBundle().setResourceDirectory(resources.path());
    EXPECT_EQ(std::filesystem::weakly_canonical(Resources::engineDirectory()),
              std::filesystem::weakly_canonical(sourceTree));
    resources.write("engine/rules.js", "");
    EXPECT_EQ(Resources::engineDirectory(), resources.path() / "engine");
}
