#include "Desktop/Linux/RealDesktopEntry.h"

#include <cstdlib>

#include "Desktop/Linux/LinuxDesktop.h"
#include "Desktop/Linux/XdgPaths.h"

namespace desktop::x11 {

int runOnLinuxDesktop(const EntryOptions& options, const std::function<std::shared_ptr<void>()>& launch,
                      std::ostream& errors) {
    if (!LinuxDesktop::displayReachable()) {
        const char* display = std::getenv("DISPLAY");
        errors << "kestrel: no X display is reachable (DISPLAY is " << (display && *display ? display : "unset")
               << "); start it inside an X11 session, or run kestrel --console for the simulated desktop\n";
        return 2;
    }
    std::error_code ec;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    auto defaults = options.defaultsDirectory.value_or(configHome() / "kestrel");
    LinuxDesktop desktop(LinuxOptions{.defaultsFile = defaults / "defaults.json",
                                      .resourceDirectory = options.resourceDirectory,
                                      .executable = ec ? std::filesystem::path("kestrel") : executable});
    InstallGuard installed(desktop);
    auto application = launch();
    desktop.runLoop().run();
    return 0;
}

}  // namespace desktop::x11
