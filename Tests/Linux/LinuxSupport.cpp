#include "Linux/LinuxSupport.h"

#include <chrono>

// Xlib's macros collide with GoogleTest's names: it comes last.
#include <gdk/gdkx.h>

namespace testing_support {

void pump(double seconds) {
    using Clock = std::chrono::steady_clock;
    auto until = Clock::now() + std::chrono::duration<double>(seconds);
    // Animations (a spinner, a blinking caret) keep the context busy for ever: give up after a while.
    auto limit = until + std::chrono::seconds(1);
    for (;;) {
        gdk_display_sync(gdk_display_get_default());
        bool busy = false;
        while (Clock::now() < limit && g_main_context_iteration(nullptr, FALSE)) busy = true;
        if (desktop::isInstalled() && desktop::current().runLoop().hasPendingTasks()) {
            desktop::current().runLoop().drain();
            busy = true;
        }
        auto now = Clock::now();
        if (now >= limit || (!busy && now >= until)) return;
        if (!busy) g_usleep(5000);
    }
}

bool pumpUntil(const std::function<bool()>& done, double timeout) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= limit) return false;
        pump(0.01);
    }
    return true;
}

uint32_t screenPixel(int x, int y) {
    Display* display = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xFFFFFFFF;
    auto pixel = static_cast<uint32_t>(XGetPixel(image, 0, 0) & 0xFFFFFF);
    XDestroyImage(image);
    return pixel;
}

GtkWidget* toplevel(const std::string& title) {
    for (GtkWidget* window : scenario::visibleToplevels()) {
        const char* name = gtk_window_get_title(GTK_WINDOW(window));
        if (name && title == name) return window;
    }
    return nullptr;
}

std::vector<std::string> labelTexts(GtkWidget* root) {
    // A hidden widget (one kept for later) shows nothing.
    auto shown = [root](GtkWidget* widget) {
        for (; widget && widget != root; widget = gtk_widget_get_parent(widget)) {
            if (!gtk_widget_get_visible(widget)) return false;
        }
        return true;
    };
    std::vector<std::string> out;
    for (GtkWidget* widget : descendants(root)) {
        if (GTK_IS_LABEL(widget) && shown(widget)) out.emplace_back(gtk_label_get_text(GTK_LABEL(widget)));
    }
    return out;
}

}  // namespace testing_support
