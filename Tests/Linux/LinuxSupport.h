// Support for tests of the real desktop's services: the simulated desktop with GTK windows in
// place of its simulated ones, and a pump for GTK's main context. Main thread.
#pragma once

#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "Desktop/Linux/GtkWindows.h"
#include "Desktop/Linux/LinuxWording.h"
#include "Desktop/Sim/SimDesktop.h"
#include "Scenario/Linux/GtkControls.h"

namespace testing_support {

class GtkOnSimDesktop final : public desktop::Desktop {
public:
    desktop::sim::SimDesktop sim;
    desktop::x11::GtkWindows gtkWindows;

    desktop::RunLoop& runLoop() override { return sim.runLoop(); }
    desktop::Executor& executor() override { return sim.executor(); }
    const desktop::Bundle& bundle() const override { return sim.bundle(); }
    desktop::Defaults& defaults() override { return sim.defaults(); }
    desktop::Log& log() override { return sim.log(); }
    desktop::Workspace& workspace() override { return sim.workspace(); }
    desktop::Accessibility& accessibility() override { return sim.accessibility(); }
    desktop::Events& events() override { return sim.events(); }
    desktop::Screens& screens() override { return sim.screens(); }
    desktop::Windows& windows() override { return gtkWindows; }
    desktop::Pasteboard& pasteboard() override { return sim.pasteboard(); }
    desktop::StatusBar& statusBar() override { return sim.statusBar(); }
    desktop::LoginItems& loginItems() override { return sim.loginItems(); }
    desktop::Http& http() override { return sim.http(); }
    desktop::SecureStore& secureStore() override { return sim.secureStore(); }
    desktop::Wording wording() const override { return desktop::x11::linuxWording(); }
};

// Runs GTK's main context and the simulated main queue until both are idle, and then for at
// least `seconds` more of real time (for the X server's round trips).
void pump(double seconds = 0);
// Pumps until `done` holds or `timeout` seconds pass; answers whether it held. The window manager
// and GTK's frame clock place and size a window some frames after it is shown.
bool pumpUntil(const std::function<bool()>& done, double timeout = 10);

// The colour of one pixel of the whole screen as the X server shows it, as 0xRRGGBB.
uint32_t screenPixel(int x, int y);
using scenario::descendants;
using scenario::findControl;
// Our visible toplevel titled `title`.
GtkWidget* toplevel(const std::string& title);
// The texts of the shown labels under `root`, in tree order.
std::vector<std::string> labelTexts(GtkWidget* root);

class GtkDesktopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no X display; run under scripts/desktop-session";
    }
    GtkOnSimDesktop desk;
    desktop::InstallGuard installed{desk};
    desktop::sim::SimDesktop& sim = desk.sim;
};

}  // namespace testing_support
