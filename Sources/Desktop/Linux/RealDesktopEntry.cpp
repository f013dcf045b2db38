#include "Desktop/Linux/RealDesktopEntry.h"

#include <cstdlib>

#include "Desktop/Linux/LinuxDesktop.h"
#include "Desktop/Linux/SingleInstance.h"
#include "Desktop/Linux/XdgPaths.h"

namespace desktop::x11 {

namespace {
std::string ownerOf(const SingleInstance& instance) {
    auto pid = instance.ownerPid();
    return pid ? "another copy (pid " + std::to_string(*pid) + ")" : std::string("another copy");
}
}  // namespace

int runOnLinuxDesktop(const EntryOptions& options, const std::function<LaunchedApplication()>& launch,
                      std::ostream& out, std::ostream& errors) {
    if (!LinuxDesktop::displayReachable()) {
        const char* display = std::getenv("DISPLAY");
        errors << "kestrel: no X display is reachable (DISPLAY is " << (display && *display ? display : "unset")
               << "); start it inside an X11 session, or run kestrel --console for the simulated desktop\n";
        return 2;
    }
    // Two copies would show two pills and fight over the Send keys.
    SingleInstance instance(LinuxDesktop::kApplicationId);
    switch (instance.outcome()) {
        case SingleInstance::Outcome::showedOther:
            out << "kestrel: already running in this session; " << ownerOf(instance) << " shows its panel\n";
            return 0;
        case SingleInstance::Outcome::otherSilent:
            errors << "kestrel: " << ownerOf(instance) << " holds " << LinuxDesktop::kApplicationId
                   << " on the session bus but does not answer (" << instance.problem()
                   << "); end it and start kestrel again\n";
            return 1;
        case SingleInstance::Outcome::noBus:
            errors << "kestrel: no session bus (" << instance.problem()
                   << "); a second copy could not be told apart from this one\n";
            break;
        case SingleInstance::Outcome::first:
            break;
    }
    std::error_code ec;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    auto defaults = options.defaultsDirectory.value_or(configHome() / "kestrel");
    LinuxDesktop desktop(LinuxOptions{.defaultsFile = defaults / "defaults.json",
                                      .resourceDirectory = options.resourceDirectory,
                                      .executable = ec ? std::filesystem::path("kestrel") : executable});
    InstallGuard installed(desktop);
    auto application = launch();
    instance.setShowHandler(application.show);
    desktop.runLoop().run();
    instance.setShowHandler(nullptr);
    return 0;
}

}  // namespace desktop::x11
