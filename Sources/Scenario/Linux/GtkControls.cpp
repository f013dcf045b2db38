#include "Scenario/Linux/GtkControls.h"

namespace scenario {

std::vector<GtkWidget*> descendants(GtkWidget* root) {
    std::vector<GtkWidget*> out{root};
    if (!GTK_IS_CONTAINER(root)) return out;
    GList* children = gtk_container_get_children(GTK_CONTAINER(root));
    for (GList* it = children; it; it = it->next) {
        auto below = descendants(GTK_WIDGET(it->data));
        out.insert(out.end(), below.begin(), below.end());
    }
    g_list_free(children);
    return out;
}

GtkWidget* findControl(GtkWidget* root, const std::string& title) {
    for (GtkWidget* widget : descendants(root)) {
        if (GTK_IS_BUTTON(widget)) {
            AtkObject* accessible = gtk_widget_get_accessible(widget);
            const char* name = accessible ? atk_object_get_name(accessible) : nullptr;
            gchar* tooltip = gtk_widget_get_tooltip_text(widget);
            bool named = (name && title == name) || (tooltip && title == tooltip);
            g_free(tooltip);
            if (named) return widget;
        }
        if (GTK_IS_ENTRY(widget)) {
            const char* placeholder = gtk_entry_get_placeholder_text(GTK_ENTRY(widget));
            if (title == "*" || (placeholder && title == placeholder)) return widget;
        }
    }
    return nullptr;
}

std::vector<GtkWidget*> visibleToplevels() {
    GList* all = gtk_window_list_toplevels();
    std::vector<GtkWidget*> visible;
    for (GList* it = all; it; it = it->next)
        if (gtk_widget_get_visible(GTK_WIDGET(it->data))) visible.push_back(GTK_WIDGET(it->data));
    g_list_free(all);
    return visible;
}

GtkWidget* findVisibleControl(const std::string& title) {
    for (GtkWidget* window : visibleToplevels())
        if (GtkWidget* found = findControl(window, title)) return found;
    return nullptr;
}

std::pair<int, int> middleOf(GtkWidget* widget) {
    GtkWidget* window = gtk_widget_get_toplevel(widget);
    int x = 0, y = 0, dx = 0, dy = 0;
    gdk_window_get_origin(gtk_widget_get_window(window), &x, &y);
    gtk_widget_translate_coordinates(widget, window, 0, 0, &dx, &dy);
    int scale = gtk_widget_get_scale_factor(window);
    return {(x + dx + gtk_widget_get_allocated_width(widget) / 2) * scale,
            (y + dy + gtk_widget_get_allocated_height(widget) / 2) * scale};
}

}  // namespace scenario
