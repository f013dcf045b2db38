// The whole application on the headless desktop with the GTK stand-in chat app, driven as a
// person would: keys typed and buttons clicked through the X server (xdotool).
#include <gmock/gmock.h>

#include "ApplicationSupport.h"
#include "DevServer/DevServer.h"
#include "Desktop/Linux/IndicatorStatusBar.h"
#include "Desktop/Linux/XdgPaths.h"
#include "Kestrel/Keychain.h"
#include "Kestrel/Windows.h"

using namespace testing_support;

namespace {

constexpr const char* kChat = "com.slack.Slack";
// The secret part of the leaked key; a fix keeps only its prefix.
constexpr const char* kSecret = "ghp_M0Xvq";

class ApplicationOnDesktopTests : public ApplicationDesktopTest {
protected:
    void SetUp() override {
        LinuxDesktopTest::SetUp();
        chat = launchChat(kChat);
        app = kestrel::AppDelegate::launch();
    }

    bool frontIsChat() {
        auto front = desktop.workspace().frontmostApplication();
        return front && front->pid == chat;
    }

    pid_t chat = 0;
};

}  // namespace

TEST_F(ApplicationOnDesktopTests, ALeakedKeyIsHeldAtReturnFixedInPlaceAndSentOnce) {
    type(kLeakedKey);
    ASSERT_TRUE(waitFor([&] { return app->pill()->window().isVisible() && app->state()->risks().size() == 1; }));
    EXPECT_TRUE(screenshot("1-pill"));

    press("Return");
    ASSERT_TRUE(waitFor([&] { return panelVisible(); }));
    EXPECT_TRUE(sent(kChat).empty());
    EXPECT_TRUE(frontIsChat()) << "the panel took the focus";
    EXPECT_TRUE(screenshot("2-held-send"));

    auto held = app->panel()->panel().frame();
    click("Fix");
    ASSERT_TRUE(waitFor([&] {
        auto text = focusedText(chat);
        return text && text->find(kSecret) == std::string::npos;
    }));
    EXPECT_TRUE(frontIsChat()) << "clicking the panel took the focus";
    // The box did not move, so neither does the panel: same side, same edge beside the box.
    runFor(0.5);
    auto fixed = app->panel()->panel().frame();
    EXPECT_EQ(fixed.minX(), held.minX());
    EXPECT_TRUE(fixed.maxY() == held.maxY() || fixed.minY() == held.minY())
        << "the panel moved from y " << held.minY() << " to " << fixed.minY();
    EXPECT_TRUE(screenshot("3-fixed"));

    click("Send anyway");
    ASSERT_TRUE(waitFor([&] { return sent(kChat).size() == 1; }));
    runFor(0.5);
    EXPECT_EQ(sent(kChat).size(), 1u);
    EXPECT_EQ(sent(kChat)[0].find(kSecret), std::string::npos);
    EXPECT_FALSE(panelVisible());
}

TEST_F(ApplicationOnDesktopTests, TheSignInAndPermissionWindowsShowAsOrdinaryWindows) {
    app->signIn()->show();
    ASSERT_TRUE(waitFor([&] { return button("Continue").second != nullptr; }));
    EXPECT_TRUE(gtk_window_get_decorated(GTK_WINDOW(button("Continue").first)));
    EXPECT_TRUE(screenshot("4-sign-in"));
    click("Continue");
    auto* view = app->signIn()->view();
    ASSERT_TRUE(view);
    ASSERT_TRUE(waitFor([&] { return view->error() == "Enter a valid email address."; }));

    kestrel::AccessibilityWindow permission;
    permission.show();
    ASSERT_TRUE(waitFor([&] { return button(desktop.wording().accessibilityButton).second != nullptr; }));
    EXPECT_TRUE(screenshot("5-permission"));
}

TEST_F(ApplicationOnDesktopTests, SigningInStoresTheSessionInTheKeyringAndARestartFindsIt) {
    kestrel::devserver::DevServer server;
    ASSERT_TRUE(server.start());
    desktop.defaults().set(kestrel::Config::kBackendUrl, server.url());
    const std::string email = "ann@example.com";

    app->signIn()->show();
    ASSERT_TRUE(waitFor([&] {
        auto [window, continueButton] = button("Continue");
        return continueButton && gtk_window_is_active(GTK_WINDOW(window));
    }));
    type(email);
    press("Return");
    // The keyboard goes on in the code field, and Return there submits.
    ASSERT_TRUE(waitFor([&] {
        auto [window, code] = button(kestrel::SignInView::kCodePlaceholder);
        return code && gtk_window_get_focus(GTK_WINDOW(window)) == code;
    })) << "the code field did not take the focus";
    type(kestrel::devserver::DevServer::codeFor(email));
    press("Return");
    ASSERT_TRUE(waitFor([&] { return app->api()->isSignedIn() && !button("Verify").second; }))
        << app->signIn()->view()->error().value_or("");
    auto stored = kestrel::Keychain::load();
    ASSERT_TRUE(stored) << "the keyring holds no session";
    EXPECT_NE(stored->find(*app->api()->token()), std::string::npos);

    // A restart: a fresh client and application restore the session from the keyring, once it
    // answers; the start does not wait for it.
    app.reset();
    kestrel::KestrelAPI::resetShared();
    app = kestrel::AppDelegate::launch();
    EXPECT_TRUE(waitFor([&] { return app->api()->isSignedIn(); }));
    ASSERT_TRUE(app->api()->user());
    EXPECT_EQ(app->api()->user()->email, email);
}

// The status menu as the tray host would read and activate it (no tray host runs headless);
// muting from it is proven by the scenario scripts.
TEST_F(ApplicationOnDesktopTests, TheStatusMenuListsThisDesktopsAppsAndSwitchesLaunchAtLogin) {
    auto item = std::dynamic_pointer_cast<desktop::x11::IndicatorStatusItem>(app->statusItem());
    ASSERT_TRUE(item);
    // A top-level item, chosen from the menu as it opens now.
    auto choose = [&](const std::string& title) {
        item->rebuildMenu();
        GtkWidget* chosen = nullptr;
        GList* children = gtk_container_get_children(GTK_CONTAINER(item->gtkMenu()));
        for (GList* it = children; it && !chosen; it = it->next) {
            GtkWidget* widget = GTK_WIDGET(it->data);
            const char* label = GTK_IS_SEPARATOR_MENU_ITEM(widget) ? nullptr : gtk_menu_item_get_label(GTK_MENU_ITEM(widget));
            if (label && title == label) chosen = widget;
        }
        g_list_free(children);
        ASSERT_NE(chosen, nullptr) << title;
        gtk_menu_item_activate(GTK_MENU_ITEM(chosen));
        runFor(0.2);
    };

    // A switch shows its box also while off, and the apps are those of this desktop.
    item->rebuildMenu();
    GtkWidget* login = nullptr;
    std::vector<std::string> apps;
    GList* top = gtk_container_get_children(GTK_CONTAINER(item->gtkMenu()));
    for (GList* it = top; it; it = it->next) {
        GtkWidget* widget = GTK_WIDGET(it->data);
        if (GTK_IS_SEPARATOR_MENU_ITEM(widget)) continue;
        std::string label = gtk_menu_item_get_label(GTK_MENU_ITEM(widget));
        if (label == "Launch at login") login = widget;
        GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(widget));
        if (label != "Gate sends in" || !submenu) continue;
        GList* rows = gtk_container_get_children(GTK_CONTAINER(submenu));
        for (GList* row = rows; row; row = row->next) apps.push_back(gtk_menu_item_get_label(GTK_MENU_ITEM(row->data)));
        g_list_free(rows);
    }
    g_list_free(top);
    ASSERT_TRUE(login && GTK_IS_CHECK_MENU_ITEM(login));
    EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(login)));
    EXPECT_THAT(apps, testing::IsSupersetOf({"Outlook on the web  (Ctrl+Enter)", "Slack  (Enter)",
                                             "Thunderbird  (Ctrl+Enter)", "Evolution  (Ctrl+Enter)"}));
    for (const auto& row : apps) {
        EXPECT_FALSE(row.starts_with("Mail ") || row.starts_with("Messages ")) << row;
        EXPECT_EQ(row.find("\u21A9"), std::string::npos) << row;
    }

    auto autostart = desktop::x11::configHome() / "autostart" / "app.kestrel.Kestrel.desktop";
    choose("Launch at login");
    EXPECT_TRUE(std::filesystem::exists(autostart));
    choose("Launch at login");
    EXPECT_FALSE(std::filesystem::exists(autostart));
}
