#include "Scenario/Linux/RealSession.h"

#include <gtk/gtk.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>

#include "Desktop/Json.h"
#include "Desktop/Linux/GLibRunLoop.h"
#include "Scenario/Linux/GtkControls.h"

extern char** environ;

namespace scenario {

bool waitFor(const std::function<bool()>& done, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        desktop::x11::GLibRunLoop::iterate(0.02);
    }
    return true;
}

pid_t spawnProcess(const std::vector<std::string>& arguments, int input, int output, int errors) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, 0);
    if (output >= 0) posix_spawn_file_actions_adddup2(&actions, output, 1);
    if (errors >= 0) posix_spawn_file_actions_adddup2(&actions, errors, 2);
    pid_t pid = 0;
    int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? 0 : pid;
}

std::optional<int> exitStatus(pid_t pid, double seconds) {
    int status = 0;
    if (!waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds))
        return std::nullopt;
    return WIFEXITED(status) ? std::optional(WEXITSTATUS(status)) : std::nullopt;
}

std::optional<std::string> xdotool(std::vector<std::string> arguments, double seconds) {
    arguments.insert(arguments.begin(), "xdotool");
    pid_t pid = spawnProcess(arguments);
    if (!pid) return "cannot start xdotool";
    if (exitStatus(pid, seconds) != 0) return "xdotool failed or did not finish";
    desktop::x11::GLibRunLoop::iterate(0);
    return std::nullopt;
}

std::optional<std::string> clickControl(const std::string& title, double seconds) {
    std::optional<std::pair<int, int>> place;
    GtkWidget* control = nullptr;
    bool still = waitFor(
        [&] {
            control = findVisibleControl(title);
            if (!control || !gtk_widget_get_mapped(control)) return false;
            auto now = middleOf(control);
            bool same = place == now;
            place = now;
            desktop::x11::GLibRunLoop::iterate(0.1);
            return same;
        },
        seconds);
    auto quoted = desktop::json::dump(desktop::json::Json(title));
    if (!still) return "no control " + quoted + " on screen";
    if (!gtk_widget_is_sensitive(control)) return "the control " + quoted + " is disabled";
    return xdotool(
        {"mousemove", std::to_string(place->first), std::to_string(place->second), "click", "1"},
        seconds);
}

bool isFront(desktop::Workspace& workspace, pid_t pid) {
    auto front = workspace.frontmostApplication();
    return front && front->pid == pid;
}

std::optional<desktop::Element> focusedElementOf(desktop::Accessibility& ax, pid_t pid) {
    auto focused = ax.copyAttribute(ax.applicationElement(pid), "AXFocusedUIElement");
    if (!focused || !std::holds_alternative<desktop::Element>(*focused)) return std::nullopt;
    return std::get<desktop::Element>(*focused);
}

std::optional<std::string> textOf(desktop::Accessibility& ax, const desktop::Element& element) {
    auto text = ax.copyAttribute(element, "AXValue");
    if (!text || !std::holds_alternative<std::string>(*text)) return std::nullopt;
    return std::get<std::string>(*text);
}

std::vector<std::string> sentMessages(const std::filesystem::path& log) {
    std::vector<std::string> messages;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        std::string text;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                text += line[++i] == 'n' ? '\n' : line[i];
            } else {
                text += line[i];
            }
        }
        messages.push_back(text);
    }
    return messages;
}

}  // namespace scenario
