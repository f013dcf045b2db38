#include "Desktop/Linux/LinuxWording.h"

namespace desktop::x11 {

Wording linuxWording() {
    return Wording{
        .appNames = Wording::AppNames::onLinux,
        .accessibilitySetting = "Linux desktops call this the accessibility setting (assistive "
                                "technologies), the one screen readers use. It is desktop-wide, "
                                "and it stays on after Kestrel quits.",
        .thisComputer = "this computer",
        .accessibilityButton = "Turn On Accessibility",
        .opensSettingsPage = false,
        .accessibilityWhere = "The button switches it on for every app. To turn it off again, switch "
                              "off assistive technologies in your desktop's accessibility settings, "
                              "or run gsettings set org.gnome.desktop.interface toolkit-accessibility "
                              "false. This window closes on its own once it is on.",
    };
}

}  // namespace desktop::x11
