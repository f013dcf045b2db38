// The program's way onto the real desktop: checks that an X display answers, makes sure this is
// the one copy in the session (a later start asks the running copy to show itself and ends),
// makes the Linux desktop with the user's defaults under $XDG_CONFIG_HOME/kestrel, runs the
// application on it and drives its main loop until the application terminates. Main thread.
// Called once by the entry.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

namespace desktop::x11 {

struct EntryOptions {
    std::optional<std::filesystem::path> resourceDirectory;
    // Where the user defaults live; none: $XDG_CONFIG_HOME/kestrel.
    std::optional<std::filesystem::path> defaultsDirectory;
};

// The running application as the entry sees it: kept while the main loop runs, and shown when a
// later start asks for it.
struct LaunchedApplication {
    std::shared_ptr<void> owner;
    std::function<void()> show;
};

// Answers the exit status: 0 after the application terminated, or when another copy runs and was
// asked to show itself (one line on `out`); 1 when another copy holds the session's name but does
// not answer, 2 when no X display is reachable (one line on `errors`).
int runOnLinuxDesktop(const EntryOptions& options, const std::function<LaunchedApplication()>& launch,
                      std::ostream& out, std::ostream& errors);

}  // namespace desktop::x11
