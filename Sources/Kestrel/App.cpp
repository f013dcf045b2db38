#include "Kestrel/App.h"

#include <algorithm>

#include "Desktop/Desktop.h"
#include "Kestrel/API.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/CheckCommand.h"
#include "Kestrel/Config.h"
#include "Kestrel/Draft.h"
#include "Kestrel/Engine.h"
#include "Kestrel/Panel.h"
#include "Kestrel/Pill.h"
#include "Kestrel/SendGate.h"

namespace kestrel {

namespace {

constexpr std::string_view kSampleSentence =
    "Hi team, I hope this email finds you well. Please see the attached deck and use key "
    "sk-zyxwvutsrqponmlkjihgfedcba987654 to log in.";

constexpr std::string_view kUsage =
    "usage: kestrel [--console] [--state DIR]\n"
    "       kestrel --selftest\n"
    "       kestrel --check [--channel email|chat] [FILE|-]\n"
    "       kestrel --simulate FILE\n"
    "       kestrel --help | --version\n";

std::string joinIds(const std::vector<Finding>& findings) {
    std::string out;
    for (const auto& f : findings) {
        if (!out.empty()) out += ", ";
        out += f.id;
    }
    return out;
}

bool hasId(const std::vector<Finding>& findings, std::string_view id) {
    return std::any_of(findings.begin(), findings.end(), [&](const Finding& f) { return f.id == id; });
}

}  // namespace

int selfTest(std::ostream& out) {
    auto engine = Engine::create(Resources::engineDirectory());
    if (!engine) {
        out << "SELFTEST FAILED: " << engine.error().text() << '\n';
        return 1;
    }
    auto email = (*engine)->check(kSampleSentence, "email");
    auto chat = (*engine)->check(kSampleSentence, "chat");

    out << "email: " << joinIds(email.findings) << '\n';
    out << "chat:  " << joinIds(chat.findings) << '\n';
    out << "slop:  " << (email.slop ? email.slop->level : "-")
        << " gate(email): " << ((*engine)->channelInfo("email").gate ? "true" : "false")
        << " ai(chat): " << (*engine)->channelInfo("chat").ai << '\n';

    bool passed = hasId(email.findings, "secret") && hasId(email.findings, "attach") &&
                  !hasId(chat.findings, "attach") &&
                  std::any_of(email.findings.begin(), email.findings.end(),
                              [](const Finding& f) { return f.level == "risk"; });
    if (!passed) {
        out << "SELFTEST FAILED: unexpected findings\n";
        return 1;
    }
    out << "SELFTEST OK\n";
    return 0;
}

int AppDelegate::main(const std::vector<std::string>& arguments, const RunApplication& run) {
    auto has = [&arguments](std::string_view flag) {
        return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
    };
    if (has("--help") || has("-h")) {
        std::cout << kUsage;
        return 0;
    }
    if (has("--version")) {
        std::cout << "kestrel " << Config::version() << '\n';
        return 0;
    }
    if (has("--selftest")) return selfTest();
    if (auto it = std::find(arguments.begin(), arguments.end(), "--check"); it != arguments.end())
        return runCheckCommand(std::vector<std::string>(std::next(it), arguments.end()));
    std::optional<std::filesystem::path> stateDirectory;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--state" && i + 1 < arguments.size()) {
            stateDirectory = arguments[++i];
            continue;
        }
        std::cerr << "kestrel: "
                  << (arguments[i] == "--state" ? "--state needs a directory"
                                                : "unknown option " + arguments[i])
                  << '\n'
                  << kUsage;
        return 2;
    }
    return run(stateDirectory);
}

std::shared_ptr<AppDelegate> AppDelegate::launch() {
    desktop::current().workspace().setActivationPolicy(desktop::ActivationPolicy::accessory);
    auto app = std::make_shared<AppDelegate>();
    app->applicationDidFinishLaunching();
    return app;
}

AppDelegate::AppDelegate()
    : api_(KestrelAPI::shared()), state_(std::make_shared<DraftState>()) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    auto& desktop = desktop::current();
    auto engine = Engine::create(Resources::engineDirectory());
    if (!engine) {
        desktop.windows().runModalAlert(
            {kEngineAlertMessage, engine.error().text() + kEngineAlertAdvice});
        desktop.workspace().terminate();
        return;
    }
    engine_ = *engine;
    watcher_ = std::make_shared<FocusWatcher>(state_, engine_, api_);
    gate_ = std::make_shared<SendGate>(state_, watcher_, engine_);
    panel_ = PanelController::create(state_, gate_, watcher_, api_);
    pill_ = std::make_shared<PillController>(state_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->togglePanel("pill");
    });
    signIn_ = std::make_shared<SignInWindow>(api_);
    wireCallbacks();
    setUpStatusItem();
    recordLaunch();
    if (desktop.accessibility().isTrusted()) startWatching();
    else waitForPermission();
    desktop.runLoop().async([api = std::weak_ptr<KestrelAPI>(api_)] {
        if (auto client = api.lock()) client->refreshMe();
    });
}

void AppDelegate::wireCallbacks() {
    auto weak = weak_from_this();
    gate_->onHold = [weak] {
        if (auto self = weak.lock()) self->panel_->showGate();
    };
    gate_->onHotkey = [weak] {
        if (auto self = weak.lock()) self->togglePanel("hotkey");
    };
    gate_->onEscape = [weak] {
        auto self = weak.lock();
        if (!self || !self->panel_->panel().isVisible()) return false;
        if (self->panel_->model().gating()) self->panel_->goBack();
        else self->panel_->hide();
        return true;
    };
    gate_->wantsEscape = [weak] {
        auto self = weak.lock();
        return self && self->panel_->panel().isVisible();
    };
    panel_->setOpenSignIn([weak] {
        if (auto self = weak.lock()) self->signIn_->show();
    });
}

void AppDelegate::togglePanel(const std::string& source) {
    if (panel_->panel().isVisible()) panel_->hide();
    else panel_->show(source);
}

void AppDelegate::reopen() {
    // Absent when the engine failed to load and the application is ending.
    if (panel_ && !panel_->panel().isVisible()) panel_->show("menu");
}

void AppDelegate::recordLaunch() {
    auto& defaults = desktop::current().defaults();
    bool launchedBefore = defaults.boolean(kLaunchedBefore).value_or(false);
    defaults.set(kLaunchedBefore, true);
    Analytics::track(launchedBefore ? "App Launched" : "App Installed");
}

void AppDelegate::waitForPermission() {
    accessibility_.show();
    permissionTimer_ = desktop::current().runLoop().schedule(
        kPermissionPollInterval, desktop::Repeat::yes, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->checkPermission();
        });
}

void AppDelegate::checkPermission() {
    if (!desktop::current().accessibility().isTrusted()) return;
    permissionTimer_.invalidate();
    accessibility_.hide();
    Analytics::track("Accessibility Granted");
    startWatching();
}

void AppDelegate::startWatching() {
    if (watching_) return;
    watching_ = true;
    watcher_->start();
    pill_->start();
    if (!gate_->start()) desktop::current().log().write(kTapFailedLine);
    iconTimer_ = desktop::current().runLoop().schedule(
        kIconRefreshInterval, desktop::Repeat::yes, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->refreshIcon();
        });
}

}  // namespace kestrel
