#include "Scenario/FakeApps.h"

#include "Kestrel/Config.h"

namespace scenario {

void installFakeApps(desktop::sim::SimApps& apps) {
    for (const auto& app : kestrel::SupportedApp::all()) {
        apps.install({app.bundleID, app.electron,
                      [chord = app.send](const desktop::KeyEvent& event) { return chord.matches(event); }});
    }
    apps.install({kOtherBundleID, false, nullptr});
}

std::optional<std::string> fakeAppBundleID(const std::string& name) {
    if (name == "other") return kOtherBundleID;
    for (const auto& app : kestrel::SupportedApp::all()) {
        if (app.name == name) return app.bundleID;
    }
    return std::nullopt;
}

}  // namespace scenario
