// The whole application on the headless desktop with the GTK stand-in chat app, driven as a
// person would: keys typed and buttons clicked through the X server (xdotool).
#include <algorithm>

#include "ApplicationSupport.h"
#include "DevServer/DevServer.h"
#include "Kestrel/AX.h"
#include "Kestrel/Keychain.h"
#include "Kestrel/Windows.h"

// After our headers: the Xlib macros it brings (Status, None) would clash with their names.
#include <gdk/gdkx.h>

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

    // Where the X server shows our window, in its pixels (not GTK's units, which differ at scale 2).
    desktop::Rect pixelFrame(GtkWidget* toplevel) {
        return *desktop.windowRect(gdk_x11_window_get_xid(gtk_widget_get_window(toplevel)));
    }
    // The pill: the one panel of ours shown while a risk is left and nothing is held.
    GtkWidget* shownPanel() {
        GList* all = gtk_window_list_toplevels();
        GtkWidget* shown = nullptr;
        for (GList* it = all; it; it = it->next) {
            GtkWidget* window = GTK_WIDGET(it->data);
            if (gtk_widget_get_visible(window) && gtk_window_get_type_hint(GTK_WINDOW(window)) == GDK_WINDOW_TYPE_HINT_UTILITY)
                shown = window;
        }
        g_list_free(all);
        return shown;
    }
    bool onScreen(const desktop::Rect& pixels) {
        auto screen = desktop.linuxScreens().monitorRects().front();
        return pixels.minX() >= screen.minX() && pixels.minY() >= screen.minY() && pixels.maxX() <= screen.maxX() &&
               pixels.maxY() <= screen.maxY();
    }

    pid_t chat = 0;
};

}  // namespace

TEST_F(ApplicationOnDesktopTests, ALeakedKeyIsHeldAtReturnFixedInPlaceAndSentOnce) {
    type(kLeakedKey);
    ASSERT_TRUE(waitFor([&] { return app->pill()->window().isVisible() && app->state()->risks().size() == 1; }));
    EXPECT_TRUE(screenshot("1-pill"));
    // Beside the box as the X server shows both, at any GDK scale: at the chat window's top left.
    auto box = *desktop.windowRect(*desktop.linuxWorkspace().windowOf(chat));
    auto pill = pixelFrame(shownPanel());
    EXPECT_TRUE(onScreen(pill));
    double pillX = pill.minX() + pill.width() / 2, pillY = pill.minY() + pill.height() / 2;
    EXPECT_LT(std::abs(pillX - box.minX()), 2 * pill.width()) << "pill at x " << pill.minX();
    EXPECT_TRUE(pillY > box.minY() && pillY < box.minY() + box.height() / 2) << "pill at y " << pill.minY();

    press("Return");
    ASSERT_TRUE(waitFor([&] { return panelVisible(); }));
    EXPECT_TRUE(sent(kChat).empty());
    EXPECT_TRUE(frontIsChat()) << "the panel took the focus";
    EXPECT_TRUE(onScreen(pixelFrame(button("Fix").first)));
    // Clear of the box where the screen has room for that: at scale 2 it is half as wide in GTK's units.
    if (gtk_widget_get_scale_factor(button("Fix").first) == 1) {
        EXPECT_FALSE(app->panel()->panel().frame().intersects(*kestrel::AX::frame(*app->state()->element())))
            << "the panel covers the compose box";
    }
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

// An AI check's finding may have a title of any length: it wraps, and the panel stays on screen
// without cutting anything off.
TEST_F(ApplicationOnDesktopTests, AVeryLongFindingTitleWrapsOnAPanelThatStaysOnScreen) {
    type(kCleanDraft);
    ASSERT_TRUE(waitFor([&] { return app->state()->text() == kCleanDraft; }));
    std::string title = "Customer account numbers and " + std::string(160, 'x') + " in a message to";
    for (int i = 0; i < 8; ++i) title += " an outside address";
    kestrel::Finding finding;
    finding.id = "ai-outside";
    finding.level = "risk";
    finding.title = title;
    finding.detail = title;
    kestrel::ScoreResult ai;
    ai.findings = std::vector{finding};
    app->state()->setAi(ai);
    press("Return");
    ASSERT_TRUE(waitFor([&] { return panelVisible(); }));
    GtkWidget* panel = button("Send anyway").first;
    auto widgets = scenario::descendants(panel);
    auto shown = std::find_if(widgets.begin(), widgets.end(),
                              [&](GtkWidget* w) { return GTK_IS_LABEL(w) && title == gtk_label_get_text(GTK_LABEL(w)); });
    ASSERT_NE(shown, widgets.end()) << "the title is not shown whole";
    GtkWidget* label = *shown;
    runFor(0.3);
    EXPECT_TRUE(onScreen(pixelFrame(panel)));
    EXPECT_GT(pango_layout_get_line_count(gtk_label_get_layout(GTK_LABEL(label))), 2);
    EXPECT_LE(gtk_widget_get_allocated_width(label), gtk_widget_get_allocated_width(panel));
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height_for_width(panel, gtk_widget_get_allocated_width(panel), &minimum, &natural);
    EXPECT_LE(natural, gtk_widget_get_allocated_height(panel)) << "the panel cuts its content off";
}

TEST_F(ApplicationOnDesktopTests, TheSignInAndPermissionWindowsShowAsOrdinaryWindows) {
    app->signIn()->show();
    ASSERT_TRUE(waitFor([&] { return button("Continue").second != nullptr; }));
    EXPECT_TRUE(gtk_window_get_decorated(GTK_WINDOW(button("Continue").first)));
    EXPECT_TRUE(screenshot("4-sign-in"));

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
