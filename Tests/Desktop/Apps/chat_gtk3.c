// A stand-in chat app for the desktop tests (GTK 3): one multi-line message box; Return sends,
// which appends the text and a line feed to the log file and clears the box; Shift+Return is a
// line break. --app-id gives its identity, --focus-label puts the focus on a selectable label
// (text that cannot be edited) instead of the box.
#include <gtk/gtk.h>
#include <string.h>

#include "send_log.h"

static const char* logPath = "chat.log";
static const char* appID = "com.slack.Slack";
static gboolean focusLabel = FALSE;

static gboolean onKey(GtkWidget* view, GdkEventKey* event, gpointer data) {
    (void)data;
    guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
    if ((event->keyval != GDK_KEY_Return && event->keyval != GDK_KEY_KP_Enter) || modifiers != 0) return FALSE;
    sendToLog(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), logPath);
    return TRUE;
}

static void activate(GtkApplication* app, gpointer data) {
    (void)data;
    GtkWidget* window = gtk_application_window_new(app);
    gtk_window_set_title(GTK_WINDOW(window), "Test chat");
    gtk_window_set_default_size(GTK_WINDOW(window), 640, 360);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    GtkWidget* label = gtk_label_new("Read-only status line");
    gtk_label_set_selectable(GTK_LABEL(label), TRUE);
    GtkWidget* scroller = gtk_scrolled_window_new(NULL, NULL);
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
    g_signal_connect(view, "key-press-event", G_CALLBACK(onKey), NULL);
    gtk_container_add(GTK_CONTAINER(scroller), view);
    gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), scroller, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_widget_show_all(window);
    gtk_widget_grab_focus(focusLabel ? label : view);
}

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--log") && i + 1 < argc) logPath = argv[++i];
        else if (!strcmp(argv[i], "--app-id") && i + 1 < argc) appID = argv[++i];
        else if (!strcmp(argv[i], "--focus-label")) focusLabel = TRUE;
    }
    GtkApplication* app = gtk_application_new(appID, G_APPLICATION_NON_UNIQUE);
    g_signal_connect(app, "activate", G_CALLBACK(activate), NULL);
    char* plain[] = {argv[0], NULL};
    int status = g_application_run(G_APPLICATION(app), 1, plain);
    g_object_unref(app);
    return status;
}
