#include "Desktop/Linux/LinuxWorkspace.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <gio/gio.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

namespace desktop::x11 {

namespace {
constexpr const char* kActiveWindow = "_NET_ACTIVE_WINDOW";
constexpr size_t kMaxIdentifier = 256;

std::optional<std::string> boundedIdentifier(const char* text) {
    if (!text || !*text) return std::nullopt;
    std::string value(text, strnlen(text, kMaxIdentifier));
    if (!g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr)) return std::nullopt;
    return value;
}
}  // namespace

std::optional<std::string> executableName(int32_t pid) {
    if (pid <= 0) return std::nullopt;
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    if (!ec && !exe.filename().empty()) {
        // A replaced binary reads "name (deleted)".
        auto name = exe.filename().string();
        if (auto cut = name.find(" (deleted)"); cut != std::string::npos) name.erase(cut);
        return boundedIdentifier(name.c_str());
    }
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (std::getline(comm, name)) return boundedIdentifier(name.c_str());
    return std::nullopt;
}

LinuxWorkspace::LinuxWorkspace(XConnection& x, const Bundle& ownBundle, RunLoop& runLoop, Log& log)
    : x_(x), ownBundle_(ownBundle), runLoop_(runLoop), log_(log) {
    if (!x_.isOpen()) return;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(x_.display(), x_.root(), &attributes))
        XSelectInput(x_.display(), x_.root(), attributes.your_event_mask | PropertyChangeMask);
    x_.addHandler([this](const XEvent& event) { onEvent(event); });
    readActiveWindow();
}

void LinuxWorkspace::onEvent(const XEvent& event) {
    if (event.type != PropertyNotify || event.xproperty.window != x_.root() ||
        event.xproperty.atom != x_.atom(kActiveWindow))
        return;
    readActiveWindow();
}

void LinuxWorkspace::readActiveWindow() {
    auto value = x_.property(x_.root(), x_.atom(kActiveWindow), 1);
    haveActiveWindow_ = value && value->format == 32;
    std::optional<::Window> window;
    if (haveActiveWindow_ && !value->items.empty() && value->items.front() != 0)
        window = static_cast<::Window>(value->items.front());
    bool changed = window != active_;
    active_ = window;
    activeApp_ = window ? applicationOf(*window) : std::nullopt;
    activeTopLevel_ = window ? topLevelOf(*window) : std::nullopt;
    if (changed && onFrontChanged_) onFrontChanged_();
}

std::optional<::Window> LinuxWorkspace::clientWindowAtFocus(std::optional<XWindow> knownClient) const {
    if (!x_.isOpen()) return std::nullopt;
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(x_.display(), &focus, &revert);
    // Walk up from the focused window to the top-level client that names its class; bounded, as
    // a window tree can change under us.
    for (int depth = 0; depth < 32 && focus != None && focus != PointerRoot && focus != x_.root(); ++depth) {
        if (focus == knownClient || x_.property(focus, x_.atom("WM_CLASS"), 64)) return focus;
        auto parent = parentOf(focus);
        if (!parent) return std::nullopt;
        focus = *parent;
    }
    return std::nullopt;
}

std::optional<XWindow> LinuxWorkspace::topLevelOf(XWindow window) const {
    // Bounded, as a window tree can change under us.
    for (int depth = 0; depth < 32; ++depth) {
        auto parent = parentOf(window);
        if (!parent || *parent == None) return std::nullopt;
        if (*parent == x_.root()) return window;
        window = *parent;
    }
    return std::nullopt;
}

std::optional<XWindow> LinuxWorkspace::parentOf(XWindow window) const {
    ::Window rootReturn = 0, parent = 0;
    ::Window* children = nullptr;
    unsigned count = 0;
    int error = x_.trapErrors([&] { XQueryTree(x_.display(), window, &rootReturn, &parent, &children, &count); });
    if (children) XFree(children);
    if (error) return std::nullopt;
    return parent;
}

void LinuxWorkspace::followFocus(XWindow topLevel) {
    // Without a window manager the front is read from the input focus on every ask anyway.
    if (!haveActiveWindow_) return;
    // Nearly always the press went to the window already in front: the event itself tells, and
    // a round trip now would wait behind the app redrawing for the grab.
    if (topLevel != None && topLevel == activeTopLevel_) return;
    auto focused = clientWindowAtFocus(active_);
    if (!focused || focused == active_) return;
    active_ = focused;
    activeApp_ = applicationOf(*focused);
    activeTopLevel_ = topLevelOf(*focused);
    if (onFrontChanged_) onFrontChanged_();
}

std::optional<::Window> LinuxWorkspace::frontWindow() const {
    if (haveActiveWindow_) return active_;
    return clientWindowAtFocus();
}

std::optional<RunningApplication> LinuxWorkspace::frontmostApplication() const {
    if (!x_.isOpen()) return std::nullopt;
    if (haveActiveWindow_) return activeApp_;
    auto window = clientWindowAtFocus();
    return window ? applicationOf(*window) : std::nullopt;
}

std::optional<int32_t> LinuxWorkspace::pidOf(::Window window) const {
    XResClientIdSpec pidQuery{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    int error = x_.trapErrors([&] { XResQueryClientIds(x_.display(), 1, &pidQuery, &count, &values); });
    std::optional<int32_t> pid;
    if (!error) {
        for (long i = 0; i < count && !pid; ++i) {
            // Compare the kind of id, not the mask: the value's mask is not always filled in.
            if (XResGetClientIdType(&values[i]) == XRES_CLIENT_ID_PID) {
                auto found = XResGetClientPid(&values[i]);
                if (found > 0) pid = static_cast<int32_t>(found);
            }
        }
    }
    if (values) XResClientIdsDestroy(count, values);
    if (pid) return pid;
    if (auto netPid = x_.cardinalProperty(window, "_NET_WM_PID"); netPid && *netPid > 0)
        return static_cast<int32_t>(*netPid);
    return std::nullopt;
}

std::optional<XWindow> LinuxWorkspace::windowOf(int32_t pid) const {
    auto clients = x_.property(x_.root(), x_.atom("_NET_CLIENT_LIST"));
    for (long window : clients ? clients->items : std::vector<long>{}) {
        if (pidOf(static_cast<XWindow>(window)) == pid) return static_cast<XWindow>(window);
    }
    return std::nullopt;
}

std::optional<RunningApplication> LinuxWorkspace::applicationOf(::Window window) const {
    RunningApplication app;
    app.pid = pidOf(window).value_or(0);
    if (app.pid == getpid()) {
        app.bundleID = ownBundle_.identifier();
        return app;
    }
    auto gtkID = x_.stringProperty(window, "_GTK_APPLICATION_ID");
    std::optional<std::string> instance, className;
    if (auto wmClass = x_.property(window, x_.atom("WM_CLASS"), 64); wmClass && wmClass->format == 8) {
        // Two NUL-terminated strings: instance, then class.
        std::string both(wmClass->bytes.begin(), wmClass->bytes.end());
        instance = boundedIdentifier(both.c_str());
        auto second = both.find('\0');
        if (second != std::string::npos && second + 1 < both.size())
            className = boundedIdentifier(both.c_str() + second + 1);
    }
    app.bundleID = gtkID ? gtkID : className ? className : instance;
    for (const auto& name : {gtkID, instance, className, executableName(app.pid)}) {
        if (name && std::find(app.identifiers.begin(), app.identifiers.end(), *name) == app.identifiers.end())
            app.identifiers.push_back(*name);
    }
    return app;
}

void LinuxWorkspace::open(const std::string& url) {
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) {
        log_.write("Kestrel: nothing on this system opens " + url + ": " +
                   (error ? error->message : "no handler"));
    }
    if (error) g_error_free(error);
}

void LinuxWorkspace::terminate() {
    runLoop_.async([&runLoop = runLoop_] { runLoop.stop(); });
}

}  // namespace desktop::x11
