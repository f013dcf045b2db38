#include "Scenario/Linux/RealDriver.h"

#include <fcntl.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <set>

#include "Desktop/Linux/GlobalSpace.h"
#include "DevServer/DevServer.h"
#include "Kestrel/Config.h"
#include "Scenario/FakeApps.h"
#include "Scenario/Linux/GtkControls.h"
#include "Scenario/Linux/RealSession.h"
#include "Scenario/Keys.h"
#include "Scenario/Script.h"

namespace scenario {

namespace {

using kestrel::SupportedApp;

// The GTK application ID each script app's stand-in runs with: a Linux identifier of the row that
// stands for it. Mail, Messages and desktop Outlook have no Linux app; the nearest row stands in.
const std::map<std::string, std::string, std::less<>>& standInIDs() {
    static const std::map<std::string, std::string, std::less<>> ids = {
        {"slack", "com.slack.Slack"},
        {"teams", "com.github.IsmaelMartinez.teams_for_linux"},
        {"discord", "com.discordapp.Discord"},
        {"messages", "com.discordapp.Discord"},
        {"mail", "org.gnome.Evolution"},
        {"outlook", "org.mozilla.Thunderbird"},
        {"other", "org.example.Notes"},
    };
    return ids;
}

std::optional<SupportedApp> standInRow(const std::string& app) {
    auto id = standInIDs().find(app);
    if (id == standInIDs().end()) return std::nullopt;
    return SupportedApp::forApplication(desktop::RunningApplication{.bundleID = id->second});
}

std::string noStandIn(const std::string& app) {
    return "no stand-in app for " + quote(app) + " on the real desktop";
}

// X key names of the keys scripts name; letters and digits are their own.
std::string xKeyName(std::string_view key) {
    static const std::map<std::string, std::string, std::less<>> names = {
        {"return", "Return"}, {"enter", "KP_Enter"}, {"escape", "Escape"},
        {"tab", "Tab"},       {"space", "space"},    {"delete", "BackSpace"}};
    auto name = names.find(key);
    return name == names.end() ? std::string(key) : name->second;
}

// The chord as xdotool writes it. Command is the Super key, as the desktop layer reads it; the
// front app's own Send chord becomes the Send chord of the row that stands for it (Ctrl where the
// Mac holds Command, Return for Mail's Shift+Command+D), keypad Enter kept.
std::string xChord(const std::string& chord, const desktop::KeyEvent& event,
                   const std::string& front) {
    std::string key =
        chord.substr(chord.rfind('+') == std::string::npos ? 0 : chord.rfind('+') + 1);
    auto reference = SupportedApp::forBundle(fakeAppBundleID(front));
    auto here = standInRow(front);
    if (reference && here && reference->send.matches(event)) {
        const auto& send = here->send;
        std::string x = send.control ? "ctrl+" : "";
        if (send.shift) x += "shift+";
        if (send.option) x += "alt+";
        if (send.keyCode != kestrel::KeyChord::kReturn) return x + xKeyName(key);
        return x + (key == "enter" ? "KP_Enter" : "Return");
    }
    static const std::map<std::string, std::string, std::less<>> modifiers = {
        {"cmd", "super"}, {"shift", "shift"}, {"opt", "alt"}, {"ctrl", "ctrl"}, {"caps", ""}};
    std::string x;
    for (size_t start = 0, plus; (plus = chord.find('+', start)) != std::string::npos;
         start = plus + 1) {
        auto modifier = modifiers.at(chord.substr(start, plus - start));
        if (!modifier.empty()) x += modifier + "+";
    }
    return x + xKeyName(key);
}

}  // namespace

RealDriver::RealDriver(Options options)
    : options_(std::move(options)),
      desktop_(desktop::x11::LinuxOptions{.resourceDirectory = options_.resourceDirectory,
                                          .network = desktop::x11::Network::loopbackOnly,
                                          .echoLog = false}) {}

RealDriver::~RealDriver() {
    for (auto& [name, app] : apps_) {
        close(app.control);
        close(app.replies);
        kill(app.pid, SIGTERM);
        waitpid(app.pid, nullptr, 0);
    }
}

bool RealDriver::accessibilityReady() {
    return waitFor([&] { return desktop_.accessibility().isTrustedWithPrompt(); }, 60);
}

std::optional<std::string> RealDriver::unsupported(std::string_view command) const {
    static const std::map<std::string, std::string, std::less<>> reasons = {
        {"screen", "the real desktop's screens are the X server's"},
        {"trust", "the real desktop's accessibility is the session's, granted from the start"},
        {"readonly", "the stand-in apps have no read-only fields"},
    };
    auto reason = reasons.find(command);
    if (reason == reasons.end()) return std::nullopt;
    return std::string(command) + ": " + reason->second;
}

Done RealDriver::setScreens(const std::vector<double>&) {
    return unsupported("screen");
}

Done RealDriver::setTrusted(bool) {
    return unsupported("trust");
}

std::optional<desktop::Element> RealDriver::focusedElement() {
    auto app = apps_.find(front_);
    if (app == apps_.end()) return std::nullopt;
    return focusedElementOf(desktop_.accessibility(), app->second.pid);
}

Done RealDriver::launch(const std::string& app) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return "cannot make a pipe";
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]), close(in[1]);
        return "cannot make a pipe";
    }
    StandIn standIn{.log = options_.scratch / (app + ".log")};
    std::vector<std::string> arguments = {
        options_.standIn.string(), "--control", "--log",
        standIn.log.string(),      "--app-id",  standInIDs().at(app)};
    auto row = standInRow(app);
    if (row && row->send.control) arguments.push_back("--send-with-ctrl");
    standIn.pid = spawnProcess(arguments, in[0], out[1]);
    close(in[0]), close(out[1]);
    standIn.control = in[1];
    standIn.replies = out[0];
    fcntl(standIn.replies, F_SETFL, O_NONBLOCK);
    if (!standIn.pid) {
        close(in[1]), close(out[0]);
        return "cannot start " + options_.standIn.string();
    }
    apps_[app] = standIn;
    front_ = app;
    if (!waitFor([&] { return desktop_.linuxWorkspace().windowOf(standIn.pid).has_value(); }, kFirstWindowPatience)) {
        bool ended = waitpid(standIn.pid, nullptr, WNOHANG) == standIn.pid;
        return "the stand-in for " + quote(app) + (ended ? " ended before it showed a window" : " showed no window");
    }
    // The window manager may leave a new window behind the one clicked last; a person clicks it.
    if (!waitFor([&] { return isFront(desktop_.workspace(), standIn.pid); }, 3)) {
        if (auto failed = activate(app)) return failed;
    }
    if (!waitFor([&] { return focusedElement().has_value(); }))
        return "the stand-in for " + quote(app) + " came to the front, but its box is not seen";
    return std::nullopt;
}

Done RealDriver::bringToFront(const std::string& app) {
    if (!standInIDs().contains(app)) return noStandIn(app);
    auto running = apps_.find(app);
    if (running == apps_.end()) return launch(app);
    front_ = app;
    return activate(app);
}

Done RealDriver::activate(const std::string& app) {
    pid_t pid = apps_.at(app).pid;
    if (isFront(desktop_.workspace(), pid)) return std::nullopt;
    auto window = desktop_.linuxWorkspace().windowOf(pid);
    if (!window) return "the stand-in for " + quote(app) + " has no window";
    if (auto failed = xdotool({"windowactivate", std::to_string(*window)})) return failed;
    if (!waitFor([&] { return isFront(desktop_.workspace(), pid); }))
        return "the stand-in for " + quote(app) + " stayed behind";
    return std::nullopt;
}

std::string RealDriver::platformName(const std::string& app) const {
    auto row = standInRow(app);
    return row ? row->name : app;
}

Done RealDriver::focusField(const std::string& role, std::optional<desktop::Rect> frame) {
    static const std::set<std::string, std::less<>> roles = {"textarea", "textfield", "button",
                                                             "none"};
    if (!roles.contains(role)) return "unknown role " + quote(role);
    auto app = apps_.find(front_);
    if (app == apps_.end() || !isFront(desktop_.workspace(), app->second.pid))
        return "no app in front; say `app NAME` first";
    auto f = frame.value_or(desktop::makeRect(300, 500, 600, 120));
    auto line = "field " + role + " " + std::to_string(std::lround(f.minX())) + " " +
                std::to_string(std::lround(f.minY())) + " " +
                std::to_string(std::lround(f.width())) + " " +
                std::to_string(std::lround(f.height())) + "\n";
    if (write(app->second.control, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        return "the stand-in for " + quote(front_) + " has ended";
    std::string replies;
    bool ready = waitFor([&] {
        char buffer[64];
        ssize_t n = read(app->second.replies, buffer, sizeof buffer);
        if (n > 0) replies.append(buffer, static_cast<size_t>(n));
        return replies.find("ready\n") != std::string::npos;
    });
    if (!ready) return "the stand-in for " + quote(front_) + " did not make the field";
    return std::nullopt;
}

Done RealDriver::type(const std::string& text) {
    auto field = focusedElement();
    if (!field) return "no focused field";
    // xdotool types no line break; Shift+Return makes one in the stand-ins.
    for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
        end = text.find('\n', start);
        auto line = text.substr(start, end - start);
        if (!line.empty()) {
            if (auto failed = xdotool({"type", "--delay", "2", "--", line})) return failed;
        }
        if (end == std::string::npos) break;
        if (auto failed = xdotool({"key", "shift+Return"})) return failed;
    }
    // xdotool is done once the server has the keys, not once the app has taken them in: a Send
    // pressed next would be judged on a draft still missing its end. A person's typing has
    // reached the app by the time they press Send.
    if (!waitFor([&] {
            auto shown = textOf(desktop_.accessibility(), *field);
            return shown && shown->find(text) != std::string::npos;
        }))
        return "the field does not show the typed text";
    return std::nullopt;
}

Done RealDriver::setText(const std::string& text) {
    auto element = focusedElement();
    if (!element) return "no focused field";
    if (desktop_.accessibility().setAttribute(*element, "AXValue", text) !=
        desktop::AXError::success)
        return "the focused field refused the text";
    return std::nullopt;
}

Done RealDriver::setReadOnly(bool) {
    return unsupported("readonly");
}

std::expected<std::vector<std::string>, std::string> RealDriver::pressKey(
    const std::string& chord) {
    auto event = parseChord(chord);
    if (!event) return std::unexpected("unknown key chord " + quote(chord));
    auto x = xChord(chord, *event, front_);
    // Caps Lock is a lock, not a held modifier: on for the press, off again after.
    bool caps = (event->flags & desktop::keyflags::capsLock) != 0;
    std::vector<std::string> arguments = {"key"};
    if (caps) arguments.push_back("Caps_Lock");
    arguments.push_back(x);
    if (caps) arguments.push_back("Caps_Lock");
    if (auto failed = xdotool(arguments)) return std::unexpected(*failed);
    return std::vector<std::string>{"pressed " + x};
}

std::expected<std::vector<std::string>, std::string> RealDriver::sent(const std::string& app) {
    if (!standInIDs().contains(app)) return std::unexpected(noStandIn(app));
    return sentMessages(options_.scratch / (app + ".log"));
}

std::optional<std::string> RealDriver::focusedText() {
    auto element = focusedElement();
    if (!element) return std::nullopt;
    return textOf(desktop_.accessibility(), *element);
}

Done RealDriver::click(const std::string& title) {
    return clickControl(title, kPatience);
}

Done RealDriver::clickAt(desktop::Point at) {
    auto root = desktop::x11::GlobalSpace::current().toRoot(desktop::Rect{at, {0, 0}});
    // A point on one of our windows waits for the X server to show that window there.
    auto windows = visibleWindows();
    bool ours = std::any_of(windows.begin(), windows.end(),
                            [&](desktop::Window* window) { return window->frame().contains(at); });
    if (ours && !waitFor([&] { return showsOurWindowAt(root.x, root.y); }))
        return "our window at " + std::to_string(root.x) + "," + std::to_string(root.y) +
               " does not show";
    return xdotool({"mousemove", std::to_string(root.x), std::to_string(root.y), "click", "1"});
}

bool RealDriver::showsOurWindowAt(int x, int y) {
    GList* all = gtk_window_list_toplevels();
    bool shows = false;
    for (GList* it = all; it && !shows; it = it->next) {
        GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(it->data));
        if (!window || !gdk_window_is_viewable(window)) continue;
        GdkRectangle extents;
        gdk_window_get_frame_extents(window, &extents);
        shows = x >= extents.x && x < extents.x + extents.width && y >= extents.y &&
                y < extents.y + extents.height;
    }
    g_list_free(all);
    return shows;
}

Done RealDriver::fill(const std::string& placeholder, const std::string& text) {
    GtkWidget* field = nullptr;
    if (!waitFor([&] { return (field = findVisibleControl(placeholder)) && GTK_IS_ENTRY(field); }))
        return "no text field " + quote(placeholder) + " on screen";
    gtk_entry_set_text(GTK_ENTRY(field), text.c_str());
    drain();
    return std::nullopt;
}

Done RealDriver::submit(const std::string& placeholder) {
    GtkWidget* field = nullptr;
    if (!waitFor([&] { return (field = findVisibleControl(placeholder)) && GTK_IS_ENTRY(field); }))
        return "no text field " + quote(placeholder) + " on screen";
    gtk_widget_activate(field);
    drain();
    return std::nullopt;
}

std::vector<desktop::Window*> RealDriver::visibleWindows() {
    return dynamic_cast<desktop::x11::GtkWindows&>(desktop_.windows()).visibleWindows();
}

bool RealDriver::runsAsAccessory() {
    return desktop_.linuxWorkspace().activationPolicy() == desktop::ActivationPolicy::accessory;
}

Done RealDriver::choose(desktop::StatusItem& statusItem, const std::vector<std::string>& path,
                        const desktop::MenuItem&) {
    auto* indicator = dynamic_cast<desktop::x11::IndicatorStatusItem*>(&statusItem);
    if (!indicator) return "the status item is not on the tray";
    // As the tray host opens it: rebuilt, then the item along the path activated.
    indicator->rebuildMenu();
    GtkWidget* menu = indicator->gtkMenu();
    GtkWidget* chosen = nullptr;
    for (auto title : path) {
        if (title.starts_with("✓ ")) title.erase(0, std::string_view("✓ ").size());
        if (!menu) return "no submenu holds " + quote(title);
        chosen = nullptr;
        GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
        for (GList* it = children; it && !chosen; it = it->next) {
            GtkWidget* widget = GTK_WIDGET(it->data);
            const char* label = GTK_IS_SEPARATOR_MENU_ITEM(widget)
                                    ? nullptr
                                    : gtk_menu_item_get_label(GTK_MENU_ITEM(widget));
            if (label && title == label) chosen = widget;
        }
        g_list_free(children);
        if (!chosen) return "the tray's menu has no item " + quote(title);
        menu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(chosen));
    }
    gtk_menu_item_activate(GTK_MENU_ITEM(chosen));
    drain();
    return std::nullopt;
}

std::expected<Driver::Backend, std::string> RealDriver::startBackend() {
    auto server = std::make_shared<kestrel::devserver::DevServer>();
    if (!server->start()) return std::unexpected("the backend stand-in cannot listen on loopback");
    desktop_.defaults().set(kestrel::Config::kBackendUrl, server->url());
    return Backend{server, server->url()};
}

std::vector<std::string> RealDriver::logLines() {
    return desktop_.lines().lines();
}

void RealDriver::drain() {
    desktop::x11::GLibRunLoop::iterate(0);
}

void RealDriver::wait(double seconds) {
    waitFor([] { return false; }, seconds);
}

void RealDriver::settle(double seconds) {
    waitFor([&] { return desktop_.executor().isIdle(); }, seconds);
    drain();
}

}  // namespace scenario
