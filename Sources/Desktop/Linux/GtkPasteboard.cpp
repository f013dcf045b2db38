#include "Desktop/Linux/GtkPasteboard.h"

#include <gtk/gtk.h>

#include "Desktop/Linux/GLibPtr.h"

namespace desktop::x11 {

namespace {
GtkClipboard* clipboard() { return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD); }
}  // namespace

void GtkPasteboard::clearContents() { gtk_clipboard_clear(clipboard()); }

bool GtkPasteboard::setString(const std::string& text) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return false;
    gtk_clipboard_set_text(clipboard(), text.data(), static_cast<gint>(text.size()));
    // A clipboard manager, where one runs, keeps the text after we exit.
    gtk_clipboard_set_can_store(clipboard(), nullptr, 0);
    return true;
}

std::optional<std::string> GtkPasteboard::string() const {
    GCharPtr text(gtk_clipboard_wait_for_text(clipboard()));
    if (!text) return std::nullopt;
    return std::string(text.get());
}

}  // namespace desktop::x11
