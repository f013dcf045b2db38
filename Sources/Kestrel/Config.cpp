#include "Kestrel/Config.h"

#include <algorithm>
#include <cctype>
#include <random>
#include <set>

#include "Desktop/Desktop.h"

namespace kestrel {

bool KeyChord::matches(const desktop::KeyEvent& event) const {
    if (event.keyCode != keyCode && !(keyCode == kReturn && event.keyCode == kKeypadEnter))
        return false;
    auto held = [&](uint64_t mask) { return (event.flags & mask) != 0; };
    return held(desktop::keyflags::command) == command && held(desktop::keyflags::shift) == shift &&
           held(desktop::keyflags::option) == option && held(desktop::keyflags::control) == control;
}

std::vector<desktop::KeyCombo> KeyChord::combos() const {
    uint64_t modifiers = (command ? desktop::keyflags::command : 0) | (shift ? desktop::keyflags::shift : 0) |
                         (option ? desktop::keyflags::option : 0) | (control ? desktop::keyflags::control : 0);
    std::vector<desktop::KeyCombo> keys = {{keyCode, modifiers}};
    if (keyCode == kReturn) keys.push_back({kKeypadEnter, modifiers});
    return keys;
}

const std::vector<SupportedApp>& SupportedApp::all() {
    static const std::vector<SupportedApp> table = {
        {"com.apple.mail", "mail", "Mail", "email", {2, true, true, false, false, "⇧⌘D"}, false},
        {"com.microsoft.Outlook", "outlook", "Outlook", "email",
         {KeyChord::kReturn, true, false, false, false, "⌘↩"}, false, {}, "Outlook on the web", "Ctrl+Enter",
         {"outlook.office.com", "outlook.office365.com", "outlook.live.com"}},
        {"com.tinyspeck.slackmacgap", "slack", "Slack", "chat",
         {KeyChord::kReturn, false, false, false, false, "↩"}, true, {"slack", "com.slack.Slack"}, "Slack", "Enter",
         {"app.slack.com"}},
        {"com.microsoft.teams2", "teams", "Microsoft Teams", "chat",
         {KeyChord::kReturn, false, false, false, false, "↩"}, true,
         {"teams-for-linux", "com.github.IsmaelMartinez.teams_for_linux"}, "Microsoft Teams", "Enter",
         {"teams.microsoft.com", "teams.live.com", "teams.cloud.microsoft"}},
        {"com.hnc.Discord", "discord", "Discord", "chat",
         {KeyChord::kReturn, false, false, false, false, "↩"}, true, {"discord", "com.discordapp.Discord"},
         "Discord", "Enter", {"discord.com", "canary.discord.com", "ptb.discord.com"}},
        {"com.apple.MobileSMS", "messages", "Messages", "chat",
         {KeyChord::kReturn, false, false, false, false, "↩"}, false},
        // Linux mail apps. Thunderbird's windows call themselves thunderbird-default and
        // Msgcompose; its executable is thunderbird-bin.
        {"org.mozilla.Thunderbird", "thunderbird", "Thunderbird", "email",
         {KeyChord::kReturn, false, false, false, true, "Ctrl+↩"}, false,
         {"thunderbird", "thunderbird-default", "org.mozilla.Thunderbird"}, "Thunderbird", "Ctrl+Enter"},
        {"org.gnome.Evolution", "evolution", "Evolution", "email",
         {KeyChord::kReturn, false, false, false, true, "Ctrl+↩"}, false, {"evolution", "org.gnome.Evolution"},
         "Evolution", "Ctrl+Enter"},
        // A web app only: it has no row of its own on the Mac.
        {"com.google.mail", "gmail", "", "email", {KeyChord::kReturn, true, false, false, false, "⌘↩"}, false, {},
         "Gmail", "Ctrl+Enter", {"mail.google.com"}},
    };
    return table;
}

namespace {
bool sameWithoutCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}
}  // namespace

SupportedApp SupportedApp::linuxForm() const {
    SupportedApp form = *this;
    form.label = linuxLabel;
    form.send.control = send.control || send.command;
    form.send.command = false;
    form.send.label = linuxChordLabel;
    return form;
}

std::optional<SupportedApp> SupportedApp::forApplication(const desktop::RunningApplication& application) {
    if (auto app = forBundle(application.bundleID)) return app;
    auto named = [&](const std::string& id) {
        auto same = [&](std::string_view name) {
            if (name.ends_with("-bin")) name.remove_suffix(4);
            return sameWithoutCase(name, id);
        };
        return (application.bundleID && same(*application.bundleID)) ||
               std::any_of(application.identifiers.begin(), application.identifiers.end(), same);
    };
    for (const auto& app : all()) {
        if (!app.linuxLabel.empty() && std::any_of(app.linuxIDs.begin(), app.linuxIDs.end(), named))
            return app.linuxForm();
    }
    return std::nullopt;
}

bool SupportedApp::isBrowser(const desktop::RunningApplication& application) {
    // WM_CLASS classes and executables of Chromium, Google Chrome, Brave, Microsoft Edge and Firefox.
    static constexpr std::string_view kBrowsers[] = {
        "chromium", "chromium-browser", "google-chrome", "google-chrome-stable", "chrome", "brave-browser",
        "brave", "microsoft-edge", "microsoft-edge-stable", "msedge", "firefox", "firefox-esr", "firefox-bin"};
    auto browser = [](std::string_view name) {
        return std::any_of(std::begin(kBrowsers), std::end(kBrowsers),
                           [&](std::string_view known) { return sameWithoutCase(name, known); });
    };
    return (application.bundleID && browser(*application.bundleID)) ||
           std::any_of(application.identifiers.begin(), application.identifiers.end(), browser);
}

std::optional<SupportedApp> SupportedApp::forPage(const std::string& address) {
    auto url = desktop::Url::parse(address);
    if (!url) return std::nullopt;
    for (const auto& app : all()) {
        for (const auto& host : app.webHosts) {
            if (url->host == host) return app.linuxForm();
        }
    }
    return std::nullopt;
}

std::optional<SupportedApp> SupportedApp::forBundle(const std::optional<std::string>& bundleID) {
    if (!bundleID) return std::nullopt;
    for (const auto& app : all()) {
        if (app.bundleID == *bundleID) return app;
    }
    return std::nullopt;
}

namespace Prefs {

namespace {
std::string randomUUID() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<uint64_t> dist;
    uint64_t hi = dist(generator), lo = dist(generator);
    hi = (hi & ~0xF000ULL) | 0x4000ULL;                              // version 4
    lo = (lo & ~0xC000000000000000ULL) | 0x8000000000000000ULL;  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx",
                  static_cast<unsigned>(hi >> 32), static_cast<unsigned>((hi >> 16) & 0xFFFF),
                  static_cast<unsigned>(hi & 0xFFFF), static_cast<unsigned>(lo >> 48),
                  static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFULL));
    return text;
}
}  // namespace

std::string installID() {
    auto& defaults = desktop::current().defaults();
    if (auto id = defaults.string(kInstallID)) return *id;
    auto id = randomUUID();
    defaults.set(kInstallID, id);
    return id;
}

std::vector<std::string> disabledRules() {
    return desktop::current().defaults().stringArray(kDisabledRules).value_or(
        std::vector<std::string>{});
}

void setRule(const std::string& id, bool disabled) {
    auto stored = disabledRules();
    std::set<std::string> rules(stored.begin(), stored.end());
    if (disabled) rules.insert(id);
    else rules.erase(id);
    desktop::current().defaults().set(kDisabledRules,
                                      std::vector<std::string>(rules.begin(), rules.end()));
}

const std::unordered_map<std::string, std::string>& ruleNames() {
    static const std::unordered_map<std::string, std::string> names = {
        {"attach", "Missing attachment"},
        {"link", "Missing link"},
        {"secret", "Leaked API key / token"},
        {"pii", "Sensitive number (SSN / card)"},
        {"external", "External recipients"},
        {"subject", "Empty subject"},
        {"signoff", "No sign-off"},
        {"prompt", "AI phrasing"},
        {"banned", "Banned phrases"},
        {"slop", "AI-slop"},
        {"voice", "Off-voice"},
    };
    return names;
}

std::string muteKey(const std::string& bundleID) { return kMutedPrefix + bundleID; }

bool isMuted(const std::string& bundleID) {
    return desktop::current().defaults().boolean(muteKey(bundleID)).value_or(false);
}

}  // namespace Prefs

namespace Config {

desktop::Url backend() {
    std::string text =
        desktop::current().defaults().string(kBackendUrl).value_or(kDefaultBackend);
    auto first = text.find_first_not_of("/ ");
    std::string_view trimmed;
    if (first != std::string::npos)
        trimmed = std::string_view(text).substr(first, text.find_last_not_of("/ ") - first + 1);
    if (auto url = desktop::Url::parse(trimmed)) return *url;
    return *desktop::Url::parse(kDefaultBackend);
}

std::string version() {
    auto value = desktop::current().bundle().infoValue("CFBundleShortVersionString");
    if (value && value->is_string()) return value->get<std::string>();
    return "dev";
}

const desktop::Url& dashboard() {
    static const desktop::Url url = *desktop::Url::parse(std::string(kDashboardOrigin) + "/dashboard");
    return url;
}

}  // namespace Config

namespace Resources {

std::filesystem::path engineDirectory() {
    if (auto resources = desktop::current().bundle().resourceDirectory()) {
        auto engine = *resources / "engine";
        std::error_code ec;
        if (std::filesystem::is_regular_file(engine / "rules.js", ec)) return engine;
    }
    return std::filesystem::path(KESTREL_SOURCE_RESOURCES) / "engine";
}

}  // namespace Resources

}  // namespace kestrel
