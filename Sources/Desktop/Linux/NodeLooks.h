// How a node looks in GTK 3: its font, colours and control size as CSS declarations, the colours
// taken from the GTK theme so every text stays readable in light, dark and high-contrast themes
// (fixed colours only where the view asks for them). Main thread only (GTK style providers).
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "Desktop/View.h"

namespace desktop::x11 {

// The colour itself, for drawing with cairo.
ui::Rgb rgb(const ui::Color& color);
// The colour as a CSS value resolved against the theme.
std::string cssColor(const ui::Color& color);
// A node's text look: its font and, unless it is the primary colour, its colour.
std::string textCss(const ui::Node& node);
// A button's look: its text, its control size, and no frame when it is plain.
std::string buttonCss(const ui::Node& node);
// Styles `widget` with `declarations`, through one provider per distinct look.
void addCss(GtkWidget* widget, const std::string& declarations);

}  // namespace desktop::x11
