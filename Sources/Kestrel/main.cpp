// The kestrel program: installs the simulated desktop and hands over to the application entry.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "Desktop/Sim/SimDesktop.h"
#include "Kestrel/App.h"
#include "Scenario/Runner.h"

namespace {
// Installed layout: <prefix>/bin/kestrel beside <prefix>/share/kestrel.
std::filesystem::path resourceDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.parent_path().parent_path() / "share" / "kestrel";
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    // A scenario brings its own desktop, on the virtual clock.
    if (auto it = std::find(arguments.begin(), arguments.end(), "--simulate"); it != arguments.end()) {
        auto resources = resourceDirectory();
        return scenario::simulate(std::next(it) == arguments.end() ? "-" : *std::next(it), std::cout,
                                  {resources.empty() ? std::nullopt : std::optional(resources)});
    }
    desktop::sim::SimDesktop sim(desktop::sim::SimOptions{desktop::Clock::real, std::nullopt});
    if (auto resources = resourceDirectory(); !resources.empty())
        sim.simBundle().setResourceDirectory(resources);
    sim.simLog().setEcho(true);
    desktop::InstallGuard installed(sim);
    return kestrel::AppDelegate::main(arguments);
}
