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
    void click(const std::string& title) {
        // The panel may still be moving to its place beside the box.
        runFor(0.3);
        GtkWidget* control = scenario::findVisibleControl(title);
        ASSERT_NE(control, nullptr) << "no button " << title;
        auto [x, y] = scenario::middleOf(control);
        xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    }

    // Saves the whole screen as NAME.png; answers whether a picture was written.
    bool screenshot(const std::string& name) {
        runFor(0.3);
        const char* folder = std::getenv("KESTREL_SCREENSHOTS");
        auto path = (folder && *folder ? std::filesystem::path(folder) : scratch.path()) / (name + ".png");
        pid_t pid = spawn({"import", "-window", "root", path.string()});
        int status = 0;
        if (!pid || !waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; })) return false;
        std::error_code ec;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 && std::filesystem::file_size(path, ec) > 10000;
    }

    bool panelVisible() { return app->panel()->panel().isVisible(); }

    std::shared_ptr<kestrel::AppDelegate> app;
};

}  // namespace testing_support
