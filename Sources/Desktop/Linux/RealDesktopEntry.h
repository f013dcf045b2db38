// The program's way onto the real desktop: checks that an X display answers, makes the Linux
// desktop with the user's defaults under $XDG_CONFIG_HOME/kestrel, runs the application on it and
// drives its main loop until the application terminates. Main thread. Called once by the entry.
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

// Answers the exit status: 0 after the application terminated, 2 (with one line on `errors`)
// when no X display is reachable.
int runOnLinuxDesktop(const EntryOptions& options, const std::function<std::shared_ptr<void>()>& launch,
                      std::ostream& errors);

}  // namespace desktop::x11
