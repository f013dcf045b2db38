// The kestrel program: installs the simulated desktop and hands over to the application entry.
#include <filesystem>
#include <string>
#include <vector>

#include "Desktop/Sim/SimDesktop.h"
#include "Kestrel/App.h"

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
    desktop::sim::SimDesktop sim(desktop::sim::SimOptions{desktop::Clock::real, std::nullopt});
    if (auto resources = resourceDirectory(); !resources.empty())
        sim.simBundle().setResourceDirectory(resources);
    sim.simLog().setEcho(true);
    desktop::InstallGuard installed(sim);
    return kestrel::AppDelegate::main(std::vector<std::string>(argv, argv + argc));
}
