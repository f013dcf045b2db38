// A simulated desktop furnished with the fake apps, and verbs to focus a field in one of them.
#pragma once

#include <string>
#include <vector>

#include "Scenario/FakeApps.h"
#include "TestSupport.h"

namespace testing_support {

class FakeAppsTest : public SimDesktopTest {
protected:
    FakeAppsTest() { scenario::installFakeApps(sim.simApps()); }

    // Brings a fake app ("slack", "mail", ...) to the front with a newly focused field.
    desktop::Element focus(const std::string& app, const std::string& text = "",
                           const std::string& role = "AXTextArea") {
        sim.simApps().bringToFront(*scenario::fakeAppBundleID(app));
        return sim.simApps().focusField(role, text, desktop::makeRect(300, 500, 600, 120));
    }
    std::vector<std::string> sent(const std::string& app) {
        return sim.simApps().sent(*scenario::fakeAppBundleID(app));
    }
};

}  // namespace testing_support
