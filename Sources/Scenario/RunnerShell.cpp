// The scenario commands of the application shell: the status menu, the backend stand-in, the
// sign-in window, and the console that reads commands while the application runs in real time.
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <thread>

#include "Desktop/Json.h"
#include "Desktop/StatusBar.h"
#include "DevServer/DevBackend.h"
#include "Kestrel/API.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/App.h"
#include "Kestrel/Config.h"
#include "Scenario/Runner.h"

namespace scenario {

namespace {

using Problem = Runner::Problem;
Problem scriptError(std::string message) { return Problem{true, std::move(message)}; }
Problem failed(std::string message) { return Problem{false, std::move(message)}; }

constexpr std::string_view kChecked = "✓ ";

constexpr const char* kHelp = R"(Commands (one per line; strings in double quotes):
  app NAME                  bring mail|outlook|slack|teams|discord|messages|other to the front
  field ROLE [X Y W H]      focus a new textarea|textfield|button|none in the front app
  type "TEXT" | set "TEXT"  append to / replace the focused field's text
  readonly on|off           make the focused field refuse writes
  key CHORD                 press a key, e.g. return, enter, escape, shift+cmd+d
  wait SECONDS              let time pass
  trust on|off              grant or revoke Accessibility trust
  screen W H | X Y W H      replace the primary screen / add a screen
  default KEY VALUE         set a user default
  menu ["TITLE" > ...]      print the status menu, or choose an item along a path
  backend dev               start the local backend stand-in and point the app at it
  backend reply PATH STATUS JSON   make the stand-in answer PATH with STATUS and JSON
  show WHAT                 state|events|log|menu|signin|backend and the windows' views
  expect ...                check what must hold (see docs/scenarios.md)
  help | quit
)";

}  // namespace

std::filesystem::path defaultStateDirectory() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        return std::filesystem::path(state) / "kestrel";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local" / "state" / "kestrel";
}

desktop::Menu* Runner::openMenu() {
    const auto& item = app_->statusItem();
    if (!item || !item->menu()) return nullptr;
    item->menu()->prepareToOpen();
    return item->menu().get();
}

namespace {
// A supported app's menu title as scripts write it ("Slack  (↩)"), in the words of the desktop
// the application runs on.
std::string onThisDesktop(const std::string& title) {
    if (desktop::current().wording().appNames != desktop::Wording::AppNames::onLinux) return title;
    std::string checked = title.starts_with(kChecked) ? std::string(kChecked) : "";
    for (const auto& app : kestrel::SupportedApp::all()) {
        if (!app.linuxLabel.empty() && title.substr(checked.size()) == app.menuTitle())
            return checked + app.linuxForm().menuTitle();
    }
    return title;
}
}  // namespace

// Reads `"TITLE" [> "TITLE" ...]`; answers a script error when the path is malformed.
std::optional<std::string> Runner::menuPath(Args& args, std::vector<std::string>& path) {
    while (!args.atEnd()) {
        if (!path.empty() && args.word("\">\"") != ">") return "menu titles are joined by >";
        path.push_back(onThisDesktop(args.text("menu title")));
    }
    return args.finish();
}

namespace {
// The item along `path`, where a leading "✓ " asks for a checked item.
const desktop::MenuItem* findItem(const desktop::Menu& menu, const std::vector<std::string>& path) {
    const desktop::Menu* current = &menu;
    const desktop::MenuItem* found = nullptr;
    for (auto title : path) {
        if (!current) return nullptr;
        bool mustBeChecked = title.starts_with(kChecked);
        if (mustBeChecked) title.erase(0, kChecked.size());
        auto chosen = current->find({title});
        if (!chosen || (mustBeChecked && chosen->state != desktop::MenuItem::State::on)) return nullptr;
        found = chosen;
        current = found->submenu.get();
    }
    return found;
}
}  // namespace

Runner::Outcome Runner::menu(Args& args) {
    std::vector<std::string> path;
    if (auto bad = menuPath(args, path)) return scriptError(*bad);
    auto* menu = openMenu();
    if (!menu) return scriptError("the application has no status menu");
    if (path.empty()) {
        out_ << menu->render();
        return std::nullopt;
    }
    const auto* item = findItem(*menu, path);
    if (!item) return scriptError("no menu item " + quote(path.back()));
    if (!item->enabled || !item->action) return scriptError("menu item " + quote(path.back()) + " is disabled");
    if (auto problem = driver_->choose(*app_->statusItem(), path, *item)) return scriptError(*problem);
    return std::nullopt;
}

Runner::Outcome Runner::backend(Args& args) {
    auto verb = args.word("dev or reply");
    if (verb == "dev") {
        if (auto bad = args.finish()) return scriptError(*bad);
        if (!backend_) {
            auto started = driver_->startBackend();
            if (!started) return scriptError(started.error());
            backend_ = started->backend;
            backendAddress_ = started->address;
        }
        kestrel::Analytics::setEndpoints(
            kestrel::Analytics::Endpoints{.mixpanel = backendAddress_, .posthog = backendAddress_});
        out_ << "  backend stand-in at " << backendAddress_ << '\n';
        return std::nullopt;
    }
    if (verb != "reply") return scriptError("backend takes dev or reply");
    auto path = args.word("path");
    auto status = args.number("status");
    auto body = args.word("JSON");
    if (auto bad = args.finish()) return scriptError(*bad);
    if (status != std::floor(status) || status < kLowestStatus || status > kHighestStatus)
        return scriptError("status must be a whole number from 100 to 599");
    if (!backend_) return scriptError("say `backend dev` first");
    backend_->reply(path, static_cast<int>(status), body);
    return std::nullopt;
}

Runner::Outcome Runner::help(Args& args) {
    if (auto bad = args.finish()) return scriptError(*bad);
    out_ << kHelp;
    return std::nullopt;
}

Runner::Outcome Runner::quit(Args& args) {
    if (auto bad = args.finish()) return scriptError(*bad);
    quitting_ = true;
    return std::nullopt;
}

Runner::Outcome Runner::showMenu(Args& args) {
    if (auto bad = args.finish()) return scriptError(*bad);
    auto* menu = openMenu();
    if (!menu) return scriptError("the application has no status menu");
    out_ << menu->render();
    return std::nullopt;
}

Runner::Outcome Runner::showSignIn(Args& args) {
    if (auto bad = args.finish()) return scriptError(*bad);
    const auto& signIn = app_->signIn();
    if (!signIn || !signIn->window()) {
        out_ << "  the sign-in window has not been opened\n";
        return std::nullopt;
    }
    out_ << "  window \"" << signIn->window()->config().title << "\" "
         << (signIn->window()->isVisible() ? "visible" : "hidden") << '\n'
         << signIn->window()->content()->render();
    return std::nullopt;
}

Runner::Outcome Runner::showBackend(Args& args) {
    if (auto bad = args.finish()) return scriptError(*bad);
    if (!backend_) return scriptError("say `backend dev` first");
    // Analytics go out without waiting for an answer: let what is in flight arrive.
    driver_->settle(kSettleLimit);
    auto print = [this](const char* service, const std::vector<nlohmann::json>& received) {
        for (const auto& payload : received)
            out_ << "  " << service << ' ' << desktop::json::dump(payload) << '\n';
    };
    print("mixpanel event", backend_->mixpanelEvents());
    print("mixpanel profile", backend_->mixpanelProfiles());
    print("posthog", backend_->posthogEvents());
    return std::nullopt;
}

Runner::Outcome Runner::expectIcon(Args& args) {
    auto symbol = args.word("symbol");
    if (auto bad = args.finish()) return scriptError(*bad);
    const auto& item = app_->statusItem();
    auto actual = item ? item->symbol() : std::nullopt;
    if (actual != symbol) return failed(actual ? *actual : "no image");
    return std::nullopt;
}

Runner::Outcome Runner::expectTooltip(Args& args) {
    auto text = args.text("tooltip");
    if (auto bad = args.finish()) return scriptError(*bad);
    const auto& item = app_->statusItem();
    auto actual = item ? item->tooltip() : std::string();
    if (actual != text) return failed(quote(actual));
    return std::nullopt;
}

Runner::Outcome Runner::expectSignedIn(Args& args) {
    auto answer = args.word("yes or no");
    if (auto bad = args.finish()) return scriptError(*bad);
    if (answer != "yes" && answer != "no") return scriptError("signedin takes yes or no");
    bool signedIn = app_->api()->token().has_value();
    if (signedIn != (answer == "yes")) return failed(signedIn ? "signed in" : "signed out");
    return std::nullopt;
}

Runner::Outcome Runner::expectMenu(Args& args) {
    std::vector<std::string> path;
    if (auto bad = menuPath(args, path)) return scriptError(*bad);
    if (path.empty()) return scriptError("expect menu takes a title");
    auto* menu = openMenu();
    if (!menu || !findItem(*menu, path)) return failed("no such item");
    return std::nullopt;
}

Runner::Outcome Runner::expectNoMenu(Args& args) {
    std::vector<std::string> path;
    if (auto bad = menuPath(args, path)) return scriptError(*bad);
    if (path.empty()) return scriptError("expect nomenu takes a title");
    auto* menu = openMenu();
    if (menu && findItem(*menu, path)) return failed("the item is there");
    return std::nullopt;
}

int Runner::console(std::istream& input) {
    auto& loop = driver_->desktop().runLoop();
    bool anyFailed = false;
    // Lines are read on their own thread so the application's timers keep running meanwhile.
    std::thread reader([&input, &loop, this, &anyFailed] {
        std::string line;
        while (std::getline(input, line)) {
            bool done = false;
            std::mutex mutex;
            std::condition_variable executed;
            loop.async([&, line] {
                auto first = line.find_first_not_of(" \t\r");
                if (first != std::string::npos && line[first] != '#') {
                    if (auto problem = execute(line.substr(first))) {
                        out_ << (problem->scriptError ? "error: " : "failed: ") << problem->message << '\n';
                        anyFailed = anyFailed || !problem->scriptError;
                    }
                }
                out_.flush();
                std::lock_guard lock(mutex);
                done = true;
                executed.notify_one();
            });
            std::unique_lock lock(mutex);
            executed.wait(lock, [&] { return done; });
            if (quitting_) break;
        }
        loop.stop();
    });
    out_ << "Kestrel console: type `help` for the commands.\n";
    out_.flush();
    loop.run();
    reader.join();
    return anyFailed ? kFailed : kPassed;
}

}  // namespace scenario
