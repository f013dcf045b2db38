// What both stand-in apps do on Send: append the box's text and a line feed to the log file and
// clear the box. An empty box sends nothing.
#pragma once

#include <gtk/gtk.h>
#include <stdio.h>

static inline void sendToLog(GtkTextBuffer* buffer, const char* logPath) {
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    if (*text) {
        FILE* log = fopen(logPath, "a");
        if (log) {
            fprintf(log, "%s\n", text);
            fclose(log);
        }
        gtk_text_buffer_set_text(buffer, "", -1);
    }
    g_free(text);
}
