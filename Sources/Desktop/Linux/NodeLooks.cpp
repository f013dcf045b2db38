#include "Desktop/Linux/NodeLooks.h"

#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "Desktop/Linux/GLibPtr.h"

namespace desktop::x11 {

namespace {

std::string css(const ui::Rgb& c) {
    char out[64];
    std::snprintf(out, sizeof out, "rgba(%d,%d,%d,%.3f)", static_cast<int>(std::lround(c.red * 255)),
                  static_cast<int>(std::lround(c.green * 255)), static_cast<int>(std::lround(c.blue * 255)),
                  c.opacity);
    return out;
}

int cssWeight(ui::Weight weight) {
    switch (weight) {
        case ui::Weight::regular: return 400;
        case ui::Weight::medium: return 500;
        case ui::Weight::semibold: return 600;
        case ui::Weight::bold: return 700;
    }
    return 400;
}

std::string fontCss(const ui::Font& font) {
    char out[64];
    std::snprintf(out, sizeof out, "font-size:%gpx;font-weight:%d;", font.pointSize(), cssWeight(font.weight));
    return out;
}

std::string controlSizeCss(ui::ControlSize size) {
    switch (size) {
        case ui::ControlSize::mini: return "padding:0 4px;min-height:14px;font-size:9px;";
        case ui::ControlSize::small: return "padding:1px 8px;min-height:20px;font-size:11px;";
        case ui::ControlSize::regular: return "";
        case ui::ControlSize::large: return "padding:6px 12px;font-size:15px;";
    }
    return "";
}

constexpr const char* kPlainButton =
    "padding:0;margin:0;min-height:0;min-width:0;border:none;background:none;box-shadow:none;";

}  // namespace

ui::Rgb rgb(const ui::Color& color) {
    using K = ui::Color::Kind;
    switch (color.kind) {
        case K::primary: return {0, 0, 0, 0.85};
        case K::secondary: return {0.24, 0.24, 0.26, 0.6};
        case K::tertiary: return {0.24, 0.24, 0.26, 0.3};
        case K::accent: return {0, 0.48, 1};
        case K::red: return {1, 0.23, 0.19};
        case K::orange: return {1, 0.58, 0};
        case K::blue: return {0, 0.48, 1};
        case K::green: return {0.2, 0.78, 0.35};
        case K::white: return {1, 1, 1};
        case K::clear: return {0, 0, 0, 0};
        case K::controlBackground: return {0.95, 0.95, 0.97};
        case K::srgb: return color.rgb;
    }
    return {0, 0, 0};
}

// Shades of the theme's foreground for the quieter texts (secondary at least 4.5:1, tertiary 3:1
// against the theme's background in Adwaita and Adwaita-dark), hues pulled towards the
// foreground until they read as text.
std::string cssColor(const ui::Color& color) {
    using K = ui::Color::Kind;
    switch (color.kind) {
        case K::primary: return "@theme_fg_color";
        case K::secondary: return "mix(@theme_fg_color, @theme_bg_color, 0.3)";
        case K::tertiary: return "mix(@theme_fg_color, @theme_bg_color, 0.42)";
        case K::accent:
        case K::blue: return "mix(@theme_selected_bg_color, @theme_fg_color, 0.35)";
        case K::red: return "mix(@error_color, @theme_fg_color, 0.6)";
        case K::orange: return "mix(@warning_color, @theme_fg_color, 0.6)";
        case K::green: return "mix(@success_color, @theme_fg_color, 0.6)";
        case K::controlBackground: return "@theme_base_color";
        case K::white:
        case K::clear:
        case K::srgb: return css(rgb(color));
    }
    return "@theme_fg_color";
}

std::string textCss(const ui::Node& node) {
    std::string out;
    if (node.font) out += fontCss(*node.font);
    if (node.foreground && node.foreground->kind != ui::Color::Kind::primary)
        out += "color:" + cssColor(*node.foreground) + ";";
    return out;
}

// One provider per distinct look, made once: rebuilding a panel restyles hundreds of widgets.
void addCss(GtkWidget* widget, const std::string& declarations) {
    if (declarations.empty()) return;
    static std::unordered_map<std::string, GObjectPtr<GtkCssProvider>> providers;
    auto& provider = providers[declarations];
    if (!provider) {
        provider.reset(gtk_css_provider_new());
        std::string sheet = "* {" + declarations + "}";
        gtk_css_provider_load_from_data(provider.get(), sheet.c_str(), -1, nullptr);
    }
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider.get()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

std::string buttonCss(const ui::Node& node) {
    std::string look = textCss(node) + controlSizeCss(node.controlSize);
    if (node.buttonStyle == ui::ButtonStyle::plain) look += kPlainButton;
    return look;
}

}  // namespace desktop::x11
