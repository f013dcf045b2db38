#include "Scenario/SimDriver.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "Desktop/View.h"
#include "DevServer/DevBackend.h"
#include "Kestrel/Config.h"
#include "Scenario/FakeApps.h"
#include "Scenario/Keys.h"
#include "Scenario/Script.h"

namespace scenario {

namespace {
// Where `backend dev` serves the stand-in: the port kestrel-devserver listens on by default.
constexpr const char* kBackendAddress = "http://127.0.0.1:8787";

const std::map<std::string, std::string, std::less<>>& fieldRoles() {
    static const std::map<std::string, std::string, std::less<>> roles = {
        {"textarea", "AXTextArea"},
        {"textfield", "AXTextField"},
        {"button", "AXButton"},
        {"none", ""}};
    return roles;
}

// Tries each visible window's view in turn; a miss in one window goes on to the next, except for
// "*", which means the front-most window's first field.
template <typename Try>
Done inVisibleViews(const std::vector<desktop::Window*>& windows, const std::string& title,
                    const std::string& missing, Try attempt) {
    for (auto* window : windows) {
        auto* view = window->content();
        if (!view) continue;
        auto done = attempt(*view);
        if (done) return std::nullopt;
        if (!done.error().notFound || title == "*") return done.error().message;
    }
    return missing;
}
}  // namespace

SimDriver::SimDriver(Options options) : sim_(options.desktop) {
    if (options.resourceDirectory) sim_.simBundle().setResourceDirectory(options.resourceDirectory);
    installFakeApps(sim_.simApps());
}

Done SimDriver::setScreens(const std::vector<double>& numbers) {
    if (numbers.size() == 2) {
        sim_.simScreens().setPrimary({numbers[0], numbers[1]});
    } else if (numbers.size() == 4) {
        sim_.simScreens().addScreen(
            desktop::makeRect(numbers[0], numbers[1], numbers[2], numbers[3]));
    } else {
        return "screen takes W H or X Y W H";
    }
    return std::nullopt;
}

Done SimDriver::setTrusted(bool trusted) {
    sim_.simApps().setTrusted(trusted);
    return std::nullopt;
}

Done SimDriver::bringToFront(const std::string& app) {
    auto bundleID = fakeAppBundleID(app);
    if (!bundleID) return "unknown app " + quote(app);
    sim_.simApps().bringToFront(*bundleID);
    return std::nullopt;
}

Done SimDriver::focusField(const std::string& roleName, std::optional<desktop::Rect> frame) {
    auto role = fieldRoles().find(roleName);
    if (role == fieldRoles().end()) return "unknown role " + quote(roleName);
    auto front = sim_.workspace().frontmostApplication();
    if (!front || front->bundleID == sim_.bundle().identifier())
        return "no app in front; say `app NAME` first";
    if (role->second.empty())
        sim_.simApps().focusNothing();
    else
        sim_.simApps().focusField(role->second, "",
                                  frame.value_or(desktop::makeRect(300, 500, 600, 120)));
    return std::nullopt;
}

Done SimDriver::inFocusedField(const std::function<void()>& edit) {
    if (!sim_.simApps().focusedField()) return "no focused field";
    edit();
    return std::nullopt;
}

Done SimDriver::type(const std::string& text) {
    return inFocusedField([&] { sim_.simApps().type(text); });
}

Done SimDriver::setText(const std::string& text) {
    return inFocusedField([&] { sim_.simApps().setText(text); });
}

Done SimDriver::setReadOnly(bool readOnly) {
    return inFocusedField([&] { sim_.simApps().setReadOnly(readOnly); });
}

std::expected<std::vector<std::string>, std::string> SimDriver::pressKey(
    const std::string& chordText) {
    auto chord = parseChord(chordText);
    if (!chord) return std::unexpected("unknown key chord " + quote(chordText));
    auto& events = sim_.simEvents();
    auto deliveredBefore = events.delivered().size();
    auto front = sim_.workspace().frontmostApplication();
    auto sentBefore = front && front->bundleID ? sim_.simApps().sent(*front->bundleID).size() : 0;
    events.pressKey(chord->keyCode, chord->flags);
    bool reached =
        std::any_of(events.delivered().begin() + static_cast<std::ptrdiff_t>(deliveredBefore),
                    events.delivered().end(), [](const desktop::KeyEvent& event) {
                        return event.type == desktop::KeyEventType::keyDown;
                    });
    std::vector<std::string> lines{reached ? "the key reached the front app"
                                           : "the key was swallowed"};
    if (front && front->bundleID) {
        auto sent = sim_.simApps().sent(*front->bundleID);
        if (sent.size() > sentBefore) lines.push_back("sent " + quote(sent.back()));
    }
    return lines;
}

std::expected<std::vector<std::string>, std::string> SimDriver::sent(const std::string& app) {
    auto bundleID = fakeAppBundleID(app);
    if (!bundleID) return std::unexpected("unknown app " + quote(app));
    return sim_.simApps().sent(*bundleID);
}

Done SimDriver::click(const std::string& title) {
    return inVisibleViews(visibleWindows(), title,
                          "no control " + quote(title) + " in a visible window",
                          [&](ui::HostingView& view) { return view.press(title); });
}

Done SimDriver::clickAt(desktop::Point at) {
    auto clicked = sim_.click(at);
    if (!clicked) return clicked.error();
    return std::nullopt;
}

Done SimDriver::fill(const std::string& placeholder, const std::string& text) {
    return inVisibleViews(visibleWindows(), placeholder,
                          "no text field " + quote(placeholder) + " in a visible window",
                          [&](ui::HostingView& view) { return view.fill(placeholder, text); });
}

Done SimDriver::submit(const std::string& placeholder) {
    return inVisibleViews(visibleWindows(), placeholder,
                          "no text field " + quote(placeholder) + " in a visible window",
                          [&](ui::HostingView& view) { return view.submit(placeholder); });
}

bool SimDriver::runsAsAccessory() {
    return sim_.simApps().activationPolicy() == desktop::ActivationPolicy::accessory;
}

Done SimDriver::choose(desktop::StatusItem&, const std::vector<std::string>&,
                       const desktop::MenuItem& item) {
    auto chosen = item;  // the action may rebuild the menu
    chosen.action(chosen);
    return std::nullopt;
}

std::expected<Driver::Backend, std::string> SimDriver::startBackend() {
    auto backend = std::make_shared<kestrel::devserver::DevBackend>();
    // Served inside the transport: no socket, and nothing outside this process reaches it.
    sim_.simHttp().serveLocally(kBackendAddress, [backend](const desktop::HttpRequest& request) {
        return backend->answer(request, kBackendAddress);
    });
    // The stand-in is gone when this run ends, so the console must not keep its address.
    sim_.simDefaults().setArgument(kestrel::Config::kBackendUrl, kBackendAddress);
    return Backend{backend, kBackendAddress};
}

void SimDriver::wait(double seconds) {
    auto& loop = sim_.runLoop();
    if (loop.clock() == desktop::Clock::real) {
        loop.run(seconds);
        return;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSettleLimit);
    auto settleInTime = [&] {
        auto left =
            std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left > 0)
            sim_.settle(left);
        else
            sim_.drain();
    };
    // Timer by timer, letting service calls started by one come back before the next fires.
    double target = loop.now() + seconds;
    settleInTime();
    for (double due = loop.nextDue(); due <= target; due = loop.nextDue()) {
        // A hair past the due time, so rounding never leaves the timer unfired.
        loop.advance(std::max(0.0, due - loop.now()) + 1e-9);
        settleInTime();
    }
    loop.advance(std::max(0.0, target - loop.now()));
    settleInTime();
}

}  // namespace scenario
