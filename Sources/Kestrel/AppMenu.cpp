// The application delegate's status item and its menu: built afresh before every opening, with
// one action per item.
#include <algorithm>
#include <cctype>
#include <set>

#include "Desktop/Desktop.h"
#include "Desktop/KeyEvent.h"
#include "Desktop/Menu.h"
#include "Desktop/StatusBar.h"
#include "Kestrel/API.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/App.h"
#include "Kestrel/Config.h"
#include "Kestrel/Draft.h"

namespace kestrel {

namespace {

constexpr const char* kSymbolRisk = "exclamationmark.triangle.fill";
constexpr const char* kSymbolClear = "checkmark.seal.fill";
constexpr const char* kSymbolUntrusted = "checkmark.seal";

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "N of M AI checks used this month", only on the free plan with a limit of at least one.
std::optional<std::string> usageLine(const User& user) {
    if (!user.usage || lower(user.plan.value_or("free")) != "free") return std::nullopt;
    const auto& usage = *user.usage;
    if (!usage.aiChecksLimit || *usage.aiChecksLimit < 1) return std::nullopt;
    auto used = usage.aiChecksUsed.value_or(usage.aiChecksToday.value_or(0));
    return std::to_string(used) + " of " + std::to_string(*usage.aiChecksLimit) +
           " AI checks used this month";
}

desktop::MenuItem disabledItem(std::string title) {
    desktop::MenuItem item;
    item.title = std::move(title);
    item.enabled = false;
    return item;
}

}  // namespace

void AppDelegate::setUpStatusItem() {
    statusItem_ = desktop::current().statusBar().makeStatusItem();
    refreshIcon();
    auto menu = std::make_shared<desktop::Menu>();
    menu->needsUpdate = [weak = weak_from_this()](desktop::Menu& m) {
        if (auto self = weak.lock()) self->menuNeedsUpdate(m);
    };
    statusItem_->setMenu(std::move(menu));
}

void AppDelegate::refreshIcon() {
    if (!statusItem_) return;
    bool trusted = desktop::current().accessibility().isTrusted();
    const char* symbol = !trusted ? kSymbolUntrusted
                         : state_->risks().empty() ? kSymbolClear
                                                   : kSymbolRisk;
    statusItem_->setSymbol(symbol, "Kestrel", true);
    const auto& app = state_->app();
    statusItem_->setTooltip(app ? "Kestrel · watching " + app->label : "Kestrel");
}

void AppDelegate::menuNeedsUpdate(desktop::Menu& menu) {
    using desktop::MenuItem;
    auto weak = weak_from_this();
    // An item whose action calls a method of this delegate, if it is still there.
    auto action = [&weak](std::string title, void (AppDelegate::*method)()) {
        MenuItem item;
        item.title = std::move(title);
        item.action = [weak, method](const MenuItem&) {
            if (auto self = weak.lock()) ((*self).*method)();
        };
        return item;
    };
    auto itemAction = [&weak](std::string title, void (AppDelegate::*method)(const MenuItem&)) {
        MenuItem item;
        item.title = std::move(title);
        item.action = [weak, method](const MenuItem& chosen) {
            if (auto self = weak.lock()) ((*self).*method)(chosen);
        };
        return item;
    };

    menu.removeAllItems();
    if (const auto& user = api_->user()) {
        menu.addItem(disabledItem(user->name.value_or(user->email) + " · " + user->planLabel()));
        if (auto usage = usageLine(*user)) menu.addItem(disabledItem(*usage));
        menu.addItem(action("Sign out", &AppDelegate::signOutAction));
    } else {
        menu.addItem(action("Sign in…", &AppDelegate::signInAction));
    }
    menu.addItem(MenuItem::makeSeparator());

    auto& check = menu.addItem(action("Check what I'm writing", &AppDelegate::openPanel));
    check.keyEquivalent = "c";
    check.keyModifiers = desktop::keyflags::command | desktop::keyflags::option;

    auto apps = std::make_shared<desktop::Menu>();
    bool linuxNames = desktop::current().wording().appNames == desktop::Wording::AppNames::onLinux;
    for (const auto& app : SupportedApp::all()) {
        // Rows that do not exist on this system (a web-only row on the Mac) are not listed.
        if ((linuxNames ? app.linuxLabel : app.label).empty()) continue;
        auto title = (linuxNames ? app.linuxForm() : app).menuTitle();
        auto& item = apps->addItem(itemAction(std::move(title), &AppDelegate::toggleApp));
        item.representedObject = app.bundleID;
        item.state = Prefs::isMuted(app.bundleID) ? MenuItem::State::off : MenuItem::State::on;
    }
    MenuItem gateSends;
    gateSends.title = "Gate sends in";
    gateSends.submenu = std::move(apps);
    menu.addItem(std::move(gateSends));

    auto stored = Prefs::disabledRules();
    std::set<std::string> disabled(stored.begin(), stored.end());
    if (!disabled.empty()) {
        auto rules = std::make_shared<desktop::Menu>();
        for (const auto& id : disabled) {
            auto name = Prefs::ruleNames().find(id);
            auto& item = rules->addItem(itemAction(
                name == Prefs::ruleNames().end() ? id : name->second, &AppDelegate::enableRule));
            item.representedObject = id;
        }
        MenuItem turnedOff;
        turnedOff.title = "Rules turned off (" + std::to_string(disabled.size()) + ")";
        turnedOff.submenu = std::move(rules);
        menu.addItem(std::move(turnedOff));
    }
    menu.addItem(MenuItem::makeSeparator());

    if (!desktop::current().accessibility().isTrusted())
        menu.addItem(action("Grant Accessibility access…", &AppDelegate::grantAccess));
    menu.addItem(action("Open dashboard", &AppDelegate::openDashboard));
    auto& login = menu.addItem(action("Launch at login", &AppDelegate::toggleLaunchAtLogin));
    login.state = desktop::current().loginItems().status() == desktop::LoginItems::Status::enabled
                      ? MenuItem::State::on
                      : MenuItem::State::off;
    menu.addItem(MenuItem::makeSeparator());
    menu.addItem(disabledItem("Kestrel " + Config::version()));
    MenuItem quit;
    quit.title = "Quit Kestrel";
    quit.keyEquivalent = "q";
    quit.keyModifiers = desktop::keyflags::command;
    quit.action = [](const MenuItem&) { desktop::current().workspace().terminate(); };
    menu.addItem(std::move(quit));
}

void AppDelegate::signInAction() { signIn_->show(); }

void AppDelegate::openPanel() { togglePanel("menu"); }

void AppDelegate::signOutAction() { api_->signOut(); }

void AppDelegate::openDashboard() {
    Analytics::track("Dashboard Opened", {{"from", "menu"}});
    desktop::current().workspace().open(Config::dashboard().text);
}

void AppDelegate::grantAccess() { AccessibilityView::openSettings(); }

void AppDelegate::enableRule(const desktop::MenuItem& item) {
    if (!item.representedObject) return;
    const auto& id = *item.representedObject;
    Prefs::setRule(id, false);
    auto rules = Prefs::disabledRules();
    state_->setDisabledRules(std::set<std::string>(rules.begin(), rules.end()));
    Analytics::track("Rule Unmuted", {{"rule", id}});
    watcher_->refresh();
}

void AppDelegate::toggleApp(const desktop::MenuItem& item) {
    auto app = SupportedApp::forBundle(item.representedObject);
    if (!app) return;
    bool wasMuted = Prefs::isMuted(app->bundleID);
    desktop::current().defaults().set(Prefs::muteKey(app->bundleID), !wasMuted);
    Analytics::track(wasMuted ? "Site Unmuted" : "Site Muted", {{"site", app->name}});
}

void AppDelegate::toggleLaunchAtLogin() {
    auto& login = desktop::current().loginItems();
    using Status = desktop::LoginItems::Status;
    auto changed = login.status() == Status::enabled ? login.unregisterApp() : login.registerApp();
    if (!changed) {
        desktop::current().log().write(kLaunchAtLoginFailed + changed.error());
        return;
    }
    Analytics::track("Settings Changed", {{"setting", "launch_at_login"},
                                          {"enabled", login.status() == Status::enabled}});
}

}  // namespace kestrel
