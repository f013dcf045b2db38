// The words of the desktop the application runs on, where our windows and menus name that
// desktop's own things: its accessibility switch and which names and chords of the supported apps
// its people know. The defaults are the reference system's; a real desktop answers its own.
// Plain values, any thread.
#pragma once

#include <string>

namespace desktop {

struct Wording {
    // Which of the supported-app table's names and chords the menus and windows show.
    enum class AppNames { reference, onLinux };
    AppNames appNames = AppNames::reference;

    // What the permission window says about the switch it asks for.
    // How this desktop calls the switch, one sentence.
    std::string accessibilitySetting = "macOS calls this Accessibility access.";
    // Where a draft stays while it is checked locally.
    std::string thisComputer = "this Mac";
    // The window's button, and whether it opens the system's settings page (else it only
    // switches the setting on, there being no one page for it).
    std::string accessibilityButton = "Open System Settings";
    bool opensSettingsPage = true;
    // Where the person turns it on (or, once on, off again).
    std::string accessibilityWhere =
        "Turn on Kestrel under Privacy & Security → Accessibility. This window closes on its own "
        "once it is on.";
};

}  // namespace desktop
