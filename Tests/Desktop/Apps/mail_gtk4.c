// A stand-in mail app for the desktop tests (GTK 4): a subject line and a multi-line body;
// Ctrl+Return sends, which appends the body and a line feed to the log file and clears it.
// --app-id gives its identity.
#include <gtk/gtk.h>
#include <string.h>

#include "send_log.h"

static const char* logPath = "mail.log";
static const char* appID = "org.gnome.Evolution";
static GtkWidget* body;

static gboolean onKey(GtkEventControllerKey* controller, guint keyval, guint keycode, GdkModifierType state,
                      gpointer data) {
    (void)controller, (void)keycode, (void)data;
    GdkModifierType modifiers = state & (GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_ALT_MASK | GDK_SUPER_MASK);
    if ((keyval != GDK_KEY_Return && keyval != GDK_KEY_KP_Enter) || modifiers != GDK_CONTROL_MASK) return FALSE;
    sendToLog(gtk_text_view_get_buffer(GTK_TEXT_VIEW(body)), logPath);
    return TRUE;
}

static void activate(GtkApplication* app, gpointer data) {
    (void)data;
    GtkWidget* window = gtk_application_window_new(app);
    gtk_window_set_title(GTK_WINDOW(window), "Test mail");
    gtk_window_set_default_size(GTK_WINDOW(window), 640, 420);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    GtkWidget* subject = gtk_entry_new();
    gtk_editable_set_text(GTK_EDITABLE(subject), "Quarterly numbers");
    GtkWidget* scroller = gtk_scrolled_window_new();
    gtk_widget_set_vexpand(scroller, TRUE);
    body = gtk_text_view_new();
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), body);
    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(onKey), NULL);
    gtk_widget_add_controller(window, keys);
    gtk_box_append(GTK_BOX(box), subject);
    gtk_box_append(GTK_BOX(box), scroller);
    gtk_window_set_child(GTK_WINDOW(window), box);
    gtk_window_present(GTK_WINDOW(window));
    gtk_widget_grab_focus(body);
}

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--log") && i + 1 < argc) logPath = argv[++i];
        else if (!strcmp(argv[i], "--app-id") && i + 1 < argc) appID = argv[++i];
    }
    GtkApplication* app = gtk_application_new(appID, G_APPLICATION_NON_UNIQUE);
    g_signal_connect(app, "activate", G_CALLBACK(activate), NULL);
    char* plain[] = {argv[0], NULL};
    int status = g_application_run(G_APPLICATION(app), 1, plain);
    g_object_unref(app);
    return status;
}
