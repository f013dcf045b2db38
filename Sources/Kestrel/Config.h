// Static knowledge the gate works from: the watched apps and their Send chords, the rule names,
// the preferences kept in user defaults, configuration, and where the engine scripts lie.
// Stateless; every read goes to the installed desktop's defaults. Main thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Desktop/KeyEvent.h"
#include "Desktop/Url.h"
#include "Desktop/Workspace.h"

namespace kestrel {

struct KeyChord {
    int64_t keyCode = 0;
    bool command = false;
    bool shift = false;
    bool option = false;
    bool control = false;
    std::string label;

    static constexpr int64_t kReturn = 36;
    static constexpr int64_t kKeypadEnter = 76;

    // Whether a key-down is this chord: keypad Enter counts as Return; the four modifiers must
    // agree exactly; Caps Lock, Fn and the other flag bits are ignored.
    bool matches(const desktop::KeyEvent& event) const;
    // The key-downs that match: the chord's key, and keypad Enter for Return.
    std::vector<desktop::KeyCombo> combos() const;
    bool operator==(const KeyChord&) const = default;
};

struct SupportedApp {
    std::string bundleID;
    std::string name;
    std::string label;
    std::string channel;
    KeyChord send;
    bool electron = false;
    // What the app is called on Linux, where it has no bundle id: its GTK application ID, a
    // WM_CLASS instance or class, or its executable's name (also with a "-bin" suffix); compared
    // without case.
    std::vector<std::string> linuxIDs{};
    // The row's name on Linux; empty where the row does not exist there.
    std::string linuxLabel{};
    // The Send chord as Linux writes it: Ctrl where the Mac holds Command.
    std::string linuxChordLabel{};
    // The hosts of the app's web app, known in a browser by the page's address.
    std::vector<std::string> webHosts{};

    // The fixed table, in menu and lookup order.
    static const std::vector<SupportedApp>& all();
    // The first row whose bundle id equals `bundleID` exactly.
    static std::optional<SupportedApp> forBundle(const std::optional<std::string>& bundleID);
    // The first row for a running application: by its bundle id as forBundle does, or, in its
    // Linux form, by one of the row's Linux identifiers matching the application's bundle id or
    // identifiers.
    static std::optional<SupportedApp> forApplication(const desktop::RunningApplication& application);
    // Whether the application is a web browser, whose pages may be web apps of the table.
    static bool isBrowser(const desktop::RunningApplication& application);
    // The row, in its Linux form, whose web app serves the page at `address` (an http or https
    // URL on one of its hosts); none for any other page.
    static std::optional<SupportedApp> forPage(const std::string& address);
    // The row as Linux shows it: its Linux label, and its chord with Control for Command.
    SupportedApp linuxForm() const;
    // The row's title in the status menu: "Slack  (↩)".
    std::string menuTitle() const { return label + "  (" + send.label + ")"; }
    bool operator==(const SupportedApp&) const = default;
};

namespace Prefs {
inline constexpr const char* kInstallID = "installID";
inline constexpr const char* kDisabledRules = "disabledRules";
inline constexpr const char* kMutedPrefix = "muted.";

std::string installID();
void setRule(const std::string& id, bool disabled);
// "disabledRules" as stored; absent or of another type is empty.
std::vector<std::string> disabledRules();
const std::unordered_map<std::string, std::string>& ruleNames();
// The mute key of an app: "muted." followed by its bundle id.
std::string muteKey(const std::string& bundleID);
bool isMuted(const std::string& bundleID);
}  // namespace Prefs

namespace Config {
inline constexpr const char* kBackendUrl = "backendUrl";
inline constexpr const char* kDefaultBackend = "https://api.kestrel-mail.app";
inline constexpr const char* kDashboardOrigin = "https://kestrel-mail.app";

// "backendUrl" trimmed of slashes and spaces, or the built-in default when absent or not a URL.
desktop::Url backend();
// "CFBundleShortVersionString" when it is a string, else "dev".
std::string version();
const desktop::Url& dashboard();
}  // namespace Config

namespace Resources {
// The bundle's engine directory when it holds rules.js, else the source tree's Resources/engine.
std::filesystem::path engineDirectory();
}  // namespace Resources

}  // namespace kestrel
