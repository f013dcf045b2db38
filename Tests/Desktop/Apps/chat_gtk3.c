// A stand-in chat app for the desktop tests and the scenario scripts (GTK 3): one multi-line
// message box; Return sends (Ctrl+Return with --send-with-ctrl, as mail apps do), which appends
// the text to the log file and clears the box; Shift+Return is a line break. --app-id gives its
// identity, --focus-label puts the focus on a selectable label (text that cannot be edited)
// instead of the box. With --control, each line on standard input `field ROLE X Y W H` replaces the box with a new
// focused field (textarea, textfield, button or none) of that size, the window moved to put it at
// X Y on the screen; "ready" on standard output says it is done; the end of input ends the app.
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>

#include "send_log.h"

static const char* logPath = "chat.log";
static const char* appID = "com.slack.Slack";
static gboolean focusLabel = FALSE;
static gboolean sendWithCtrl = FALSE;
static gboolean controlled = FALSE;
static GtkWidget* window;
static GtkWidget* box;
static GtkWidget* field;

static gboolean isSend(const GdkEventKey* event) {
    guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
    return (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) &&
           modifiers == (sendWithCtrl ? GDK_CONTROL_MASK : 0);
}

static gboolean onViewKey(GtkWidget* view, GdkEventKey* event, gpointer data) {
    (void)data;
    if (!isSend(event)) return FALSE;
    sendToLog(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), logPath);
    return TRUE;
}

static gboolean onEntryKey(GtkWidget* entry, GdkEventKey* event, gpointer data) {
    (void)data;
    if (!isSend(event)) return FALSE;
    const char* text = gtk_entry_get_text(GTK_ENTRY(entry));
    if (*text) {
        appendToLog(text, logPath);
        gtk_entry_set_text(GTK_ENTRY(entry), "");
    }
    return TRUE;
}

static GtkWidget* makeField(const char* role) {
    if (!strcmp(role, "textfield")) {
        GtkWidget* entry = gtk_entry_new();
        g_signal_connect(entry, "key-press-event", G_CALLBACK(onEntryKey), NULL);
        return entry;
    }
    if (!strcmp(role, "button")) return gtk_button_new_with_label("Attach");
    if (!strcmp(role, "none")) return gtk_label_new("");
    GtkWidget* scroller = gtk_scrolled_window_new(NULL, NULL);
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
    g_signal_connect(view, "key-press-event", G_CALLBACK(onViewKey), NULL);
    gtk_container_add(GTK_CONTAINER(scroller), view);
    return scroller;
}

static void focusInside(GtkWidget* widget) {
    if (GTK_IS_SCROLLED_WINDOW(widget)) widget = gtk_bin_get_child(GTK_BIN(widget));
    if (gtk_widget_get_can_focus(widget)) gtk_widget_grab_focus(widget);
    else gtk_window_set_focus(GTK_WINDOW(window), NULL);
}

// Moves the window so that the field's top-left corner lands on (x, y) of the screen.
static void place(int x, int y) {
    int fieldX = 0, fieldY = 0, windowX = 0, windowY = 0;
    gdk_window_get_origin(gtk_widget_get_window(window), &windowX, &windowY);
    gtk_widget_translate_coordinates(field, window, 0, 0, &fieldX, &fieldY);
    int frameX = 0, frameY = 0;
    gtk_window_get_position(GTK_WINDOW(window), &frameX, &frameY);
    gtk_window_move(GTK_WINDOW(window), frameX + x - (windowX + fieldX), frameY + y - (windowY + fieldY));
}

static gboolean onControl(GIOChannel* channel, GIOCondition condition, gpointer data) {
    (void)condition, (void)data;
    gchar* line = NULL;
    if (g_io_channel_read_line(channel, &line, NULL, NULL, NULL) != G_IO_STATUS_NORMAL) {
        gtk_window_close(GTK_WINDOW(window));
        return FALSE;
    }
    char role[32] = "";
    int x = 0, y = 0, width = 0, height = 0;
    if (sscanf(line, "field %31s %d %d %d %d", role, &x, &y, &width, &height) == 5) {
        // The box it replaces stays in the window, hidden, as a chat app keeps the thread left.
        gtk_widget_hide(field);
        field = makeField(role);
        gtk_widget_set_size_request(field, width, height);
        gtk_box_pack_start(GTK_BOX(box), field, FALSE, FALSE, 0);
        gtk_widget_show_all(field);
        gtk_window_resize(GTK_WINDOW(window), 1, 1);
        focusInside(field);
        while (gtk_events_pending()) gtk_main_iteration();
        place(x, y);
        while (gtk_events_pending()) gtk_main_iteration();
        printf("ready\n");
        fflush(stdout);
    }
    g_free(line);
    return TRUE;
}

static void activate(GtkApplication* app, gpointer data) {
    (void)data;
    window = gtk_application_window_new(app);
    gtk_window_set_title(GTK_WINDOW(window), "Test chat");
    gtk_window_set_default_size(GTK_WINDOW(window), 640, 360);
    box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    GtkWidget* label = gtk_label_new("Read-only status line");
    gtk_label_set_selectable(GTK_LABEL(label), TRUE);
    field = makeField("textarea");
    gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), field, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_widget_show_all(window);
    if (focusLabel) gtk_widget_grab_focus(label);
    else focusInside(field);
    if (!controlled) return;
    GIOChannel* control = g_io_channel_unix_new(0);
    g_io_add_watch(control, G_IO_IN | G_IO_HUP, onControl, NULL);
    g_io_channel_unref(control);
}

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--log") && i + 1 < argc) logPath = argv[++i];
        else if (!strcmp(argv[i], "--app-id") && i + 1 < argc) appID = argv[++i];
        else if (!strcmp(argv[i], "--focus-label")) focusLabel = TRUE;
        else if (!strcmp(argv[i], "--send-with-ctrl")) sendWithCtrl = TRUE;
        else if (!strcmp(argv[i], "--control")) controlled = TRUE;
    }
    GtkApplication* app = gtk_application_new(appID, G_APPLICATION_NON_UNIQUE);
    g_signal_connect(app, "activate", G_CALLBACK(activate), NULL);
    char* plain[] = {argv[0], NULL};
    int status = g_application_run(G_APPLICATION(app), 1, plain);
    g_object_unref(app);
    return status;
}
