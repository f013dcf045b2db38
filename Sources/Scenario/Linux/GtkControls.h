// Our GTK controls found as a person sees them on screen: a button by its accessible name or
// tooltip, a text field by its placeholder, and where its middle shows in X root pixels. Shared by
// the scenario runner's real driver and the desktop tests that click our windows. Main thread.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <utility>
#include <vector>

namespace scenario {

// `root` and every widget under it, depth first in tree order.
std::vector<GtkWidget*> descendants(GtkWidget* root);
// The first control under `root` with that name, tooltip or placeholder ("*": the first text field).
GtkWidget* findControl(GtkWidget* root, const std::string& title);
// Our toplevel windows that are shown.
std::vector<GtkWidget*> visibleToplevels();
// The first control with that title in our visible toplevels.
GtkWidget* findVisibleControl(const std::string& title);
// The middle of a widget in X root pixels (twice GTK's units at GDK_SCALE=2).
std::pair<int, int> middleOf(GtkWidget* widget);

}  // namespace scenario
