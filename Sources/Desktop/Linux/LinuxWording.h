// How an X11 desktop names its accessibility switch and the supported apps, for the windows and
// menus that mention them. Plain values, any thread.
#pragma once

#include "Desktop/Wording.h"

namespace desktop::x11 {

Wording linuxWording();

}  // namespace desktop::x11
