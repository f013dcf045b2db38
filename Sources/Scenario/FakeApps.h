// The fake apps a simulated desktop is furnished with: one per supported app, sending on its own
// Send chord, and one unsupported app. Used by the scenario runner and by tests. Main thread.
#pragma once

#include <optional>
#include <string>

#include "Desktop/Sim/SimApps.h"

namespace scenario {

// The unsupported app's bundle id (a plain text editor).
inline constexpr const char* kOtherBundleID = "com.example.TextEdit";

// Installs the six supported apps and the unsupported one; none of them running.
void installFakeApps(desktop::sim::SimApps& apps);
// "mail", "outlook", "slack", "teams", "discord", "messages" or "other".
std::optional<std::string> fakeAppBundleID(const std::string& name);

}  // namespace scenario
