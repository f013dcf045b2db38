// The kestrel program: the application on the real desktop (an X11 session), or with its
// console on the simulated desktop (--console), a scenario script, or one of the tools (self
// test, one check).
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "Desktop/Linux/RealDesktopEntry.h"
#include "Desktop/HeadlessDesktop.h"
#include "Kestrel/App.h"
#include "Scenario/Runner.h"

namespace {
// Installed layout: <prefix>/bin/kestrel beside <prefix>/share/kestrel.
std::optional<std::filesystem::path> resourceDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    return exe.parent_path().parent_path() / "share" / "kestrel";
}

bool has(const std::vector<std::string>& arguments, std::string_view flag) {
    return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    // A scenario brings its own desktop, on the virtual clock; the tools and the usage come first.
    if (!has(arguments, "--selftest") && !has(arguments, "--help") && !has(arguments, "-h") &&
        !has(arguments, "--version")) {
        if (auto it = std::find(arguments.begin(), arguments.end(), "--simulate"); it != arguments.end())
            return scenario::simulate(std::next(it) == arguments.end() ? "-" : *std::next(it),
                                      std::cout, {resourceDirectory()});
    }
    // The tools need no screen; the application below brings its own desktop.
    desktop::HeadlessDesktop tools(resourceDirectory());
    desktop::InstallGuard installed(tools);
    // Without --console the application runs on the real desktop, its defaults under --state DIR
    // when given.
    if (std::erase(arguments, std::string("--console")) == 0) {
        return kestrel::AppDelegate::main(arguments, [](const auto& stateDirectory) {
            return desktop::x11::runOnLinuxDesktop(
                {resourceDirectory(), stateDirectory},
                [] {
                    auto app = kestrel::AppDelegate::launch();
                    return desktop::x11::LaunchedApplication{app, [weak = std::weak_ptr(app)] {
                                                                 if (auto self = weak.lock()) self->reopen();
                                                             }};
                },
                std::cout, std::cerr);
        });
    }
    return kestrel::AppDelegate::main(arguments, [](const auto& stateDirectory) {
        // The console's desktop runs in real time and keeps its state between runs.
        scenario::Runner::Options options{
            .resourceDirectory = resourceDirectory(),
            .clock = desktop::Clock::real,
            .stateDirectory = stateDirectory.value_or(scenario::defaultStateDirectory()),
            .echoLog = true};
        scenario::Runner console(std::cout, std::move(options));
        return console.console(std::cin);
    });
}
