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

namespace testing_support {

class ApplicationDesktopTest : public LinuxDesktopTest {
protected:
    void TearDown() override { app.reset(); }

    // Our visible toplevel holding a button named `title` (or a text field with that placeholder,
    // or a label showing it), and that control.
    static std::pair<GtkWidget*, GtkWidget*> button(const std::string& title) {
        GList* all = gtk_window_list_toplevels();
        std::pair<GtkWidget*, GtkWidget*> found{nullptr, nullptr};
        for (GList* it = all; it && !found.second; it = it->next) {
            GtkWidget* window = GTK_WIDGET(it->data);
            if (gtk_widget_get_visible(window)) found = {window, find(window, title)};
        }
        g_list_free(all);
        return found;
    }
    static GtkWidget* find(GtkWidget* widget, const std::string& title) {
        if (GTK_IS_BUTTON(widget)) {
            AtkObject* accessible = gtk_widget_get_accessible(widget);
            const char* name = accessible ? atk_object_get_name(accessible) : nullptr;
            if (name && title == name) return widget;
        }
        if (GTK_IS_ENTRY(widget)) {
            const char* placeholder = gtk_entry_get_placeholder_text(GTK_ENTRY(widget));
            if (placeholder && title == placeholder) return widget;
        }
        if (GTK_IS_LABEL(widget) && title == gtk_label_get_text(GTK_LABEL(widget))) return widget;
        if (!GTK_IS_CONTAINER(widget)) return nullptr;
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        GtkWidget* found = nullptr;
        for (GList* it = children; it && !found; it = it->next) found = find(GTK_WIDGET(it->data), title);
        g_list_free(children);
        return found;
    }

    // A click at the middle of our button or field, through the X server.
    void click(const std::string& title) {
        // The panel may still be moving to its place beside the box.
        runFor(0.3);
        auto [window, widget] = button(title);
        ASSERT_NE(widget, nullptr) << "no button " << title;
        int x = 0, y = 0;
        gdk_window_get_origin(gtk_widget_get_window(window), &x, &y);
        int bx = 0, by = 0;
        gtk_widget_translate_coordinates(widget, window, 0, 0, &bx, &by);
        x += bx + gtk_widget_get_allocated_width(widget) / 2;
        y += by + gtk_widget_get_allocated_height(widget) / 2;
        // GTK counts in its own units; the X server in pixels (twice as many at GDK_SCALE=2).
        int scale = gtk_widget_get_scale_factor(window);
        xdotool({"mousemove", std::to_string(x * scale), std::to_string(y * scale), "click", "1"});
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
