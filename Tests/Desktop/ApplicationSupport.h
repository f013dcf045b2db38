// The whole application on the headless desktop, driven as a person would: our windows' buttons
// found by name and clicked through the X server at the places they show, and whole-screen shots
// saved along the way (to $KESTREL_SCREENSHOTS when set).
#pragma once

#include <gtk/gtk.h>

#include <cstdlib>

#include "DesktopSupport.h"
#include "Kestrel/App.h"
#include "Kestrel/Panel.h"
#include "Kestrel/Pill.h"
#include "Scenario/Linux/GtkControls.h"

namespace testing_support {

class ApplicationDesktopTest : public LinuxDesktopTest {
protected:
    void TearDown() override { app.reset(); }

    // Our visible toplevel holding a control named `title` (found as the scenario runner finds
    // them: by name, tooltip or placeholder), and that control.
    static std::pair<GtkWidget*, GtkWidget*> button(const std::string& title) {
        GtkWidget* control = scenario::findVisibleControl(title);
        return {control ? gtk_widget_get_toplevel(control) : nullptr, control};
    }

    // A click at the middle of our control, through the X server.
    static void click(const std::string& title) { ASSERT_EQ(scenario::clickControl(title, 30), std::nullopt); }

    // Saves the whole screen as NAME.png; answers whether a picture was written.
    bool screenshot(const std::string& name) {
        runFor(0.3);
        const char* folder = std::getenv("KESTREL_SCREENSHOTS");
        auto path = (folder && *folder ? std::filesystem::path(folder) : scratch.path()) / (name + ".png");
        pid_t pid = spawn({"import", "-window", "root", path.string()});
        std::error_code ec;
        return pid && exitStatus(pid) == 0 && std::filesystem::file_size(path, ec) > 10000;
    }

    bool panelVisible() { return app->panel()->panel().isVisible(); }

    std::shared_ptr<kestrel::AppDelegate> app;
};

}  // namespace testing_support
