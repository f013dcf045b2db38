// What the stand-in apps do on Send: append the text as one line to the log file (a line feed
// written as \n, a backslash as \\) and clear the box. An empty box sends nothing.
#pragma once

#include <gtk/gtk.h>
#include <stdio.h>

static inline void appendToLog(const char* text, const char* logPath) {
    FILE* log = fopen(logPath, "a");
    if (!log) return;
    for (const char* c = text; *c; ++c) {
        if (*c == '\n') fputs("\\n", log);
        else if (*c == '\\') fputs("\\\\", log);
        else fputc(*c, log);
    }
    fputc('\n', log);
    fclose(log);
}

static inline void sendToLog(GtkTextBuffer* buffer, const char* logPath) {
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    if (*text) {
        appendToLog(text, logPath);
        gtk_text_buffer_set_text(buffer, "", -1);
    }
    g_free(text);
}
