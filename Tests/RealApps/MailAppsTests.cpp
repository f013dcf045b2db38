// The real mail apps on the headless desktop: Evolution (its composer body is a web page in a
// sandboxed process behind a bus proxy) and Thunderbird (its executable is thunderbird-bin, its
// writes report success and change nothing). Each composer's own "send?" window is the sign
// that Ctrl+Return reached the app.
#include <fstream>

#include "RealAppsSupport.h"

using namespace testing_support;

namespace {

struct MailApp {
    const char* name;           // the supported app's row
    const char* program;        // on the PATH
    const char* composerClass;  // the composer window's WM_CLASS instance
    int windows;                // opened with a composer (Thunderbird opens its main window first)
};

class MailAppsTests : public RealAppTest, public ::testing::WithParamInterface<MailApp> {
protected:
    void SetUp() override {
        if (!installed(GetParam().program))
            GTEST_SKIP() << GetParam().program << " is not installed (scripts/bootstrap installs it)";
        RealAppTest::SetUp();
        app = kestrel::AppDelegate::launch();
    }

    // Opens a composer addressed to Ann with `subject`, a first line and `lines` after it, and waits
    // until its body is read, without a click: the body has the keys from the start. Evolution
    // takes the lines from the address (its body then shows no editor until a key is typed).
    void compose(const std::string& subject, const std::vector<std::string>& lines = {}) {
        const std::string to = "ann@example.com";
        if (GetParam().name == std::string("evolution")) {
            std::string body = "Hi%20Ann";
            for (const auto& line : lines) {
                body += "%0A";
                for (char c : line) body += c == ' ' ? std::string("%20") : std::string(1, c);
            }
            mail = start({"evolution", "mailto:" + to + "?subject=" + subject + "&body=" + body});
        } else {
            mail = start({"thunderbird", "--no-remote", "--profile", thunderbirdProfile().string(), "-compose",
                          "to=" + to + ",subject=" + subject + ",body=Hi Ann"},
                         {{"GNOME_ACCESSIBILITY", "1"}});
        }
        ASSERT_GT(mail, 0);
        ASSERT_TRUE(waitFor([&] {
            // Every window the app opens with its composer is up: none comes over it later.
            if (windowsOf(mail) < GetParam().windows) return false;
            auto front = desktop.workspace().frontmostApplication();
            if (!front || getpgid(front->pid) != mail) return false;
            // A main window may come up in front of the composer.
            const std::string composer = GetParam().composerClass;
            if (std::find(front->identifiers.begin(), front->identifiers.end(), composer) == front->identifiers.end()) {
                pid_t raise = spawn({"xdotool", "search", "--classname", composer, "windowactivate"});
                waitFor([&] { return raise <= 0 || waitpid(raise, nullptr, WNOHANG) == raise; }, 5);
                return false;
            }
            return composing(GetParam().name, 0) && app->state()->text().find("Hi Ann") != std::string::npos;
        }, 60)) << GetParam().program << "'s composer was not read: " << seen();
        windows = windowsOf(mail);
        if (GetParam().name != std::string("evolution")) typeLines(lines);
    }

    // Types lines at the end of the body.
    void typeLines(const std::vector<std::string>& lines) {
        if (lines.empty()) return;
        press("ctrl+End");
        for (const auto& line : lines) {
            press("Return");
            type(line);
        }
    }

    // The app showed its "send?" window: Ctrl+Return reached it.
    bool appAskedToSend() { return windowsOf(mail) > windows; }

    std::filesystem::path thunderbirdProfile() {
        auto profile = scratch.path() / "thunderbird";
        std::filesystem::create_directories(profile);
        // An offline profile with one account whose servers are loopback addresses nobody answers.
        std::ofstream prefs(profile / "user.js");
        for (const char* pref : {
                 R"("mail.accountmanager.accounts", "account1")",
                 R"("mail.accountmanager.defaultaccount", "account1")",
                 R"("mail.account.account1.server", "server1")",
                 R"("mail.account.account1.identities", "id1")",
                 R"("mail.identity.id1.useremail", "me@example.com")",
                 R"("mail.identity.id1.fullName", "Me")",
                 R"("mail.identity.id1.smtpServer", "smtp1")",
                 R"("mail.identity.id1.valid", true)",
                 R"("mail.server.server1.type", "pop3")",
                 R"("mail.server.server1.hostname", "127.0.0.1")",
                 R"("mail.server.server1.userName", "me")",
                 R"("mail.server.server1.name", "me@example.com")",
                 R"("mail.server.server1.login_at_startup", false)",
                 R"("mail.server.server1.check_new_mail", false)",
                 R"("mail.smtpservers", "smtp1")",
                 R"("mail.smtp.defaultserver", "smtp1")",
                 R"("mail.smtpserver.smtp1.hostname", "127.0.0.1")",
                 R"("mail.smtpserver.smtp1.port", 2525)",
                 R"("offline.startup_state", 3)",
                 R"("mail.shell.checkDefaultClient", false)",
                 R"("mail.provider.suppress_dialog_on_startup", true)",
                 R"("mailnews.start_page.enabled", false)",
                 R"("datareporting.policy.dataSubmissionEnabled", false)",
                 R"("accessibility.force_disabled", 0)",
             })
            prefs << "user_pref(" << pref << ");\n";
        return profile;
    }

    pid_t mail = 0;
    int windows = 0;
};

}  // namespace

TEST_P(MailAppsTests, ACardNumberOnTheThirdLineHoldsCtrlReturnUntilSendAnyway) {
    ASSERT_NO_FATAL_FAILURE(compose("Invoice", {kFirstLine, kCardLine}));
    ASSERT_TRUE(draftHolds("4111 1111 1111 1111")) << app->state()->text();
    // The line the composer opened with is read too, wherever the typed lines went.
    EXPECT_NE(app->state()->text().find("Hi Ann"), std::string::npos) << app->state()->text();
    ASSERT_TRUE(waitFor([&] { return app->pill()->window().isVisible() && app->state()->risks().size() == 1; }));

    press("ctrl+Return");
    ASSERT_TRUE(waitFor([&] { return panelVisible(); })) << "the send was not held";
    EXPECT_FALSE(appAskedToSend());
    EXPECT_TRUE(screenshot(std::string(GetParam().name) + "-held-send"));

    // Each send opens one "send?" window of the app's.
    goBackThenSendAnywayOnce("ctrl+Return", [&] { return static_cast<size_t>(std::max(0, windowsOf(mail) - windows)); });
}

TEST_P(MailAppsTests, CtrlReturnFromTheSubjectLineIsHeldOnTheBody) {
    ASSERT_NO_FATAL_FAILURE(compose("Quarterly", {kCardLine}));
    ASSERT_TRUE(draftHolds("4111 1111 1111 1111"));
    // Thunderbird may answer the focus request after the bus call's time limit: asked again.
    ASSERT_TRUE(waitFor([&] { return focusFieldHolding(mail, "Quarterly"); }, 10)) << "no Subject line found";
    // As if Kestrel had never read the body (a Subject line clicked first; Evolution's body then
    // shows no editor yet): the body is still the draft, found in the composer the line belongs to.
    desktop.atspi().forgetFocus();
    ASSERT_TRUE(waitFor([&] {
        app->watcher()->refresh();
        return app->state()->risks().size() == 1 && app->state()->text().find("4111") != std::string::npos;
    }));
    press("ctrl+Return");
    ASSERT_TRUE(waitFor([&] { return panelVisible(); })) << "a send from the Subject line went out";
    press("Escape");
    ASSERT_TRUE(waitFor([&] { return !panelVisible(); }));
    runFor(1);
    EXPECT_FALSE(appAskedToSend());
}

TEST_P(MailAppsTests, AComposerGoneUnderAHeldSendClosesThePanelAndTheNextCleanDraftPassesAtOnce) {
    ASSERT_NO_FATAL_FAILURE(compose("Invoice", {kCardLine}));
    ASSERT_TRUE(waitFor([&] { return app->state()->risks().size() == 1; }));
    press("ctrl+Return");
    ASSERT_TRUE(waitFor([&] { return panelVisible(); })) << "the send was not held";
    // The composer's window goes with its app.
    kill(-mail, SIGKILL);
    waitpid(mail, nullptr, 0);
    std::erase(groups_, mail);
    ASSERT_TRUE(waitFor([&] { return !panelVisible(); })) << "the panel stayed on a composer that is gone";

    ASSERT_NO_FATAL_FAILURE(compose("Lunch"));
    typeLines({"see you at noon", "Ann"});
    ASSERT_TRUE(draftHolds("see you at noon")) << seen() << " read: " << app->state()->text();
    EXPECT_TRUE(app->state()->risks().empty());
    press("ctrl+Return");
    ASSERT_TRUE(waitFor([&] { return appAskedToSend(); }, 20));
    EXPECT_FALSE(panelVisible());
}

INSTANTIATE_TEST_SUITE_P(RealMail, MailAppsTests,
                         ::testing::Values(MailApp{"evolution", "evolution", "evolution", 1},
                                           MailApp{"thunderbird", "thunderbird", "Msgcompose", 2}),
                         [](const auto& info) { return std::string(info.param.name); });
