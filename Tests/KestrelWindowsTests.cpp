#include "Kestrel/Windows.h"

#include <gmock/gmock.h>

#include "BackendSupport.h"
#include "Desktop/Sim/SimDesktop.h"
#include "Kestrel/AX.h"

using namespace kestrel;
using testing::Contains;
using testing::HasSubstr;
using testing::Not;

namespace {

class SignInWindowTests : public testing_support::BackendTest {
protected:
    SignInWindow signIn{api()};

    ui::HostingView& view() {
        EXPECT_TRUE(signIn.window());
        return *signIn.window()->content();
    }
    void fill(std::string_view placeholder, std::string text) {
        ASSERT_TRUE(view().fill(placeholder, std::move(text)));
    }
    void press(std::string_view title) { ASSERT_TRUE(view().press(title)); }
    bool shows(std::string_view text) {
        for (const auto& t : view().texts())
            if (t.find(text) != std::string::npos) return true;
        return false;
    }
    std::vector<std::string> sentEmails(const char* path) {
        std::vector<std::string> emails;
        for (const auto& r : server.requests(path))
            emails.push_back(nlohmann::json::parse(r.body).value("email", "?"));
        return emails;
    }
};

}  // namespace

TEST_F(SignInWindowTests, SignsInWithTheEmailedCodeAndHides) {
    signIn.show();
    ASSERT_TRUE(signIn.window()->isVisible());
    EXPECT_EQ(signIn.window()->config().title, "Sign in to Kestrel");
    EXPECT_EQ(sim.simApps().frontmostApplication()->bundleID, sim.bundle().identifier());

    fill(SignInView::kEmailPlaceholder, " \tann@example.com  ");
    press("Continue");
    EXPECT_TRUE(signIn.view()->busy());
    EXPECT_FALSE(view().press("Continue")) << "the default button is disabled while busy";
    ASSERT_TRUE(sim.settle());
    EXPECT_EQ(sentEmails("/api/auth/email/start"), std::vector<std::string>{"ann@example.com"});
    EXPECT_TRUE(shows("We sent a six-digit code to  \tann@example.com  ."));
    EXPECT_THAT(trackedNames(), Contains("Sign In Started"));

    auto code = devserver::DevServer::codeFor("ann@example.com");
    fill(SignInView::kCodePlaceholder, code.substr(0, 3) + " " + code.substr(3));
    press("Verify");
    ASSERT_TRUE(sim.settle());
    EXPECT_TRUE(api()->isSignedIn());
    EXPECT_FALSE(signIn.window()->isVisible());
    ASSERT_EQ(server.requests("/api/auth/email/verify").size(), 1u);
    auto verify = nlohmann::json::parse(server.requests("/api/auth/email/verify")[0].body);
    EXPECT_EQ(verify["code"], code);
    EXPECT_EQ(verify["email"], "ann@example.com");
}

TEST_F(SignInWindowTests, RefusesBadInputWithoutAsking) {
    signIn.show();
    fill(SignInView::kEmailPlaceholder, "ann.example.com");
    press("Continue");
    EXPECT_TRUE(shows("Enter a valid email address."));
    EXPECT_TRUE(server.requests("/api/auth/email/start").empty());

    fill(SignInView::kEmailPlaceholder, "ann@example.com");
    ASSERT_TRUE(view().submit(SignInView::kEmailPlaceholder));
    ASSERT_TRUE(sim.settle());
    EXPECT_FALSE(shows("Enter a valid email address."));
    for (const char* code : {"12345", "12 34 5", "abcdef", "1234567"}) {
        fill(SignInView::kCodePlaceholder, code);
        press("Verify");
        EXPECT_TRUE(shows("Enter the six-digit code.")) << code;
    }
    EXPECT_TRUE(server.requests("/api/auth/email/verify").empty());
    EXPECT_EQ(signIn.view()->code(), "1234567") << "the field itself is not rewritten";
}

TEST_F(SignInWindowTests, ReturnInAFieldDoesNothingWhileARequestRuns) {
    signIn.show();
    fill(SignInView::kEmailPlaceholder, "ann@example.com");
    ASSERT_TRUE(view().submit(SignInView::kEmailPlaceholder));
    ASSERT_TRUE(view().submit(SignInView::kEmailPlaceholder));
    ASSERT_TRUE(sim.settle());
    EXPECT_EQ(sentEmails("/api/auth/email/start"), std::vector<std::string>{"ann@example.com"});

    fill(SignInView::kCodePlaceholder, "000000");
    ASSERT_TRUE(view().submit(SignInView::kCodePlaceholder));
    ASSERT_TRUE(view().submit(SignInView::kCodePlaceholder));
    ASSERT_TRUE(sim.settle());
    EXPECT_EQ(server.requests("/api/auth/email/verify").size(), 1u);
    auto names = trackedNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "Sign In Failed"), 1);
}

TEST_F(SignInWindowTests, ShowsAndTracksTheServersRefusal) {
    server.reply("/api/auth/email/start", 429, R"({"message":"Too many codes. Wait a minute."})");
    signIn.show();
    fill(SignInView::kEmailPlaceholder, "ann@example.com");
    press("Continue");
    ASSERT_TRUE(sim.settle());
    EXPECT_TRUE(shows("Too many codes. Wait a minute."));
    EXPECT_FALSE(signIn.view()->busy());
    EXPECT_FALSE(signIn.view()->codeSent());
    ASSERT_FALSE(tracked.empty());
    EXPECT_EQ(tracked.back().name, "Sign In Failed");
    EXPECT_EQ(tracked.back().kept["reason"], "Too many codes. Wait a minute.");
    EXPECT_EQ(tracked.back().kept["method"], "email_code");
}

TEST_F(SignInWindowTests, ADifferentEmailGoesBackAndHidingKeepsTheStep) {
    signIn.show();
    fill(SignInView::kEmailPlaceholder, "ann@example.com");
    press("Continue");
    ASSERT_TRUE(sim.settle());
    fill(SignInView::kCodePlaceholder, "12");
    signIn.window()->orderOut();
    signIn.show();
    EXPECT_TRUE(signIn.window()->isVisible());
    EXPECT_EQ(signIn.view()->code(), "12");
    press("Use a different email");
    EXPECT_FALSE(signIn.view()->codeSent());
    EXPECT_EQ(signIn.view()->code(), "");
    EXPECT_TRUE(shows("A code will arrive in your inbox."));
    EXPECT_EQ(signIn.view()->email(), "ann@example.com");
}

class AccessibilityWindowTests : public testing_support::SimDesktopTest {};

TEST_F(AccessibilityWindowTests, OpensTheSettingsAfterTheSystemPrompt) {
    sim.simApps().setTrusted(false);
    AccessibilityWindow window;
    window.show();
    ASSERT_TRUE(window.window());
    EXPECT_TRUE(window.window()->isVisible());
    EXPECT_EQ(window.window()->config().title, "Kestrel needs one permission");
    auto& view = *window.window()->content();
    EXPECT_THAT(view.render(), HasSubstr("macOS calls this Accessibility access."));
    ASSERT_TRUE(view.press("Open System Settings"));
    EXPECT_EQ(sim.simApps().trustPrompts(), 1u);
    EXPECT_EQ(sim.simApps().opened(), std::vector<std::string>{AX::kSettingsURL});
    window.hide();
    EXPECT_FALSE(window.window()->isVisible());
}
