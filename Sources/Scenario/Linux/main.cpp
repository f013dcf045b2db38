// kestrel-scenario-desktop FILE: runs a scenario script on the real desktop of this X11 session,
// with the GTK stand-in apps for the apps it names. A test program beside the tests, never
// installed: the shipped kestrel drives no apps and clicks nothing. It needs a throwaway session
// (scripts/desktop-session makes one); without an X display it says so and exits 77 (skipped).
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "Scenario/Linux/RealDriver.h"
#include "Scenario/Runner.h"

namespace {
constexpr int kSkipped = scenario::Runner::kSkipped;

std::optional<std::filesystem::path> resourceDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    return exe.parent_path().parent_path() / "share" / "kestrel";
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: kestrel-scenario-desktop FILE (inside scripts/desktop-session)\n";
        return scenario::Runner::kScriptError;
    }
    if (!desktop::x11::LinuxDesktop::displayReachable()) {
        std::cout << "SKIP: no X display is reachable; run it under scripts/desktop-session\n";
        return kSkipped;
    }
    std::string scratchTemplate =
        (std::filesystem::temp_directory_path() / "kestrel-scenario.XXXXXX").string();
    if (!mkdtemp(scratchTemplate.data())) {
        std::cout << "ERROR line 0: cannot make a scratch folder\n";
        return scenario::Runner::kScriptError;
    }
    std::filesystem::path scratch = scratchTemplate;
    int status = 0;
    {
        auto driver = std::make_unique<scenario::RealDriver>(
            scenario::RealDriver::Options{resourceDirectory(), KESTREL_TEST_CHAT, scratch});
        if (!driver->accessibilityReady()) {
            std::cout << "SKIP: the session's accessibility bus does not answer\n";
            return kSkipped;
        }
        status = scenario::runScript(argv[1], std::cout, std::move(driver));
    }
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
    return status;
}
