#include "Desktop/Linux/NodeWidgets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Desktop/Linux/GLibPtr.h"
#include "Desktop/Linux/NodeLooks.h"
#include "Desktop/Linux/Symbols.h"

namespace desktop::x11 {

using ui::Node;
using Kind = ui::Node::Kind;

namespace {

constexpr const char* kButtonHook = "kestrel-button";
constexpr const char* kFieldHook = "kestrel-field";
constexpr const char* kCircleFill = "kestrel-fill";

// Text from the model may hold anything; GTK wants valid UTF-8.
std::string validText(const std::string& text) {
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
    GCharPtr valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
    return valid.get();
}

GtkAlign align(ui::HAlign a) {
    switch (a) {
        case ui::HAlign::leading: return GTK_ALIGN_START;
        case ui::HAlign::center: return GTK_ALIGN_CENTER;
        case ui::HAlign::trailing: return GTK_ALIGN_END;
    }
    return GTK_ALIGN_START;
}

GtkAlign align(ui::VAlign a) {
    switch (a) {
        case ui::VAlign::top: return GTK_ALIGN_START;
        case ui::VAlign::center: return GTK_ALIGN_CENTER;
        case ui::VAlign::bottom: return GTK_ALIGN_END;
    }
    return GTK_ALIGN_CENTER;
}

// Takes all the width a column offers, as a row with a spacer or a field does.
bool fillsWidth(const Node& node, Kind parent) {
    if (node.width) return false;
    switch (node.kind) {
        case Kind::textField:
        case Kind::divider:
        case Kind::scroll:
            return true;
        case Kind::spacer:
            return parent == Kind::hstack;
        case Kind::hstack:
        case Kind::vstack:
        case Kind::zstack:
            for (const auto& child : node.children) {
                if (fillsWidth(child, node.kind)) return true;
            }
            return false;
        default:
            return false;
    }
}

// ---- Hooks: the node's callbacks ride on the widget and die with it ------------------------

struct ButtonHook {
    std::function<void()> action;
};

void onClicked(GtkButton* button, gpointer) {
    auto* hook = static_cast<ButtonHook*>(g_object_get_data(G_OBJECT(button), kButtonHook));
    // The action may rebuild the tree that holds this button.
    auto action = hook ? hook->action : nullptr;
    if (action) action();
}

struct FieldHook {
    ui::Binding binding;
    std::function<void()> submit;
    bool updating = false;
};

FieldHook* fieldHook(gpointer entry) {
    return static_cast<FieldHook*>(g_object_get_data(G_OBJECT(entry), kFieldHook));
}

void onFieldChanged(GtkEditable* entry, gpointer) {
    auto* hook = fieldHook(entry);
    if (!hook || hook->updating || !hook->binding.set) return;
    auto set = hook->binding.set;
    set(gtk_entry_get_text(GTK_ENTRY(entry)));
}

void onFieldActivated(GtkEntry* entry, gpointer) {
    auto* hook = fieldHook(entry);
    auto submit = hook ? hook->submit : nullptr;
    if (submit) submit();
}

void setSource(cairo_t* cr, const ui::Fill& fill, double width, double height) {
    if (const auto* color = std::get_if<ui::Color>(&fill)) {
        ui::Rgb c = rgb(*color);
        cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.opacity);
        return;
    }
    const auto& stops = std::get<ui::Gradient>(fill).stops;
    cairo_pattern_t* pattern = cairo_pattern_create_linear(0, 0, width, height);
    for (size_t i = 0; i < stops.size(); ++i) {
        double at = stops.size() > 1 ? static_cast<double>(i) / static_cast<double>(stops.size() - 1) : 0;
        cairo_pattern_add_color_stop_rgba(pattern, at, stops[i].red, stops[i].green, stops[i].blue,
                                          stops[i].opacity);
    }
    cairo_set_source(cr, pattern);
    cairo_pattern_destroy(pattern);
}

gboolean drawCircle(GtkWidget* area, cairo_t* cr, gpointer) {
    auto* fill = static_cast<ui::Fill*>(g_object_get_data(G_OBJECT(area), kCircleFill));
    double width = gtk_widget_get_allocated_width(area);
    double height = gtk_widget_get_allocated_height(area);
    if (fill) setSource(cr, *fill, width, height);
    else cairo_set_source_rgba(cr, 0, 0, 0, 0.85);
    cairo_arc(cr, width / 2, height / 2, std::min(width, height) / 2, 0, 2 * M_PI);
    cairo_fill(cr);
    return FALSE;
}

void deleteFill(gpointer fill) { delete static_cast<ui::Fill*>(fill); }
void deleteButtonHook(gpointer hook) { delete static_cast<ButtonHook*>(hook); }
void deleteFieldHook(gpointer hook) { delete static_cast<FieldHook*>(hook); }

void nameForAssistiveTools(GtkWidget* widget, const std::string& name) {
    if (name.empty()) return;
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    std::string valid = validText(name);
    // Every new name is sent to the assistive tools over D-Bus: a kept widget keeps its name.
    if (accessible && g_strcmp0(atk_object_get_name(accessible), valid.c_str()) != 0)
        atk_object_set_name(accessible, valid.c_str());
}

// Red text right under a field is that field's error.
bool isErrorText(const Node& node) {
    return node.kind == Kind::text && node.foreground && node.foreground->kind == ui::Color::Kind::red;
}

// Whether a node would be built into the same widget as `shown`, children aside; a label's text
// changes in place.
bool sameLook(const Node& a, const Node& b) {
    return a.kind == b.kind && a.hAlign == b.hAlign && a.vAlign == b.vAlign && a.spacing == b.spacing &&
           (a.kind == Kind::text || a.text == b.text) && a.symbol == b.symbol && a.font == b.font &&
           a.foreground == b.foreground && a.fill == b.fill && a.selectable == b.selectable &&
           a.buttonStyle == b.buttonStyle && a.controlSize == b.controlSize && a.tooltip == b.tooltip &&
           a.enabled == b.enabled && a.isDefaultAction == b.isDefaultAction && a.progressSize == b.progressSize &&
           a.showsIndicators == b.showsIndicators && a.padding == b.padding && a.width == b.width &&
           a.height == b.height && a.maxHeight == b.maxHeight && a.frameAlign == b.frameAlign &&
           a.background == b.background && a.cornerRadius == b.cornerRadius;
}

// Where a child sits in its stack: a column stretches what fills the width, a row what fills it.
void placeInStack(GtkWidget* widget, const Node& child, const Node& stack) {
    bool fills = fillsWidth(child, stack.kind);
    if (stack.kind == Kind::vstack) {
        gtk_widget_set_halign(widget, fills ? GTK_ALIGN_FILL : align(stack.hAlign));
        if (child.kind == Kind::spacer) gtk_widget_set_vexpand(widget, TRUE);
    } else {
        gtk_widget_set_valign(widget, align(stack.vAlign));
        if (fills) gtk_widget_set_hexpand(widget, TRUE);
        else gtk_widget_set_hexpand_set(widget, FALSE);
    }
}

// Screen readers speak an alert as it appears, and read the error with the field it describes.
void announceAsErrorOf(GtkWidget* label, GtkWidget* field) {
    AtkObject* error = gtk_widget_get_accessible(label);
    AtkObject* described = gtk_widget_get_accessible(field);
    if (!error || !described) return;
    atk_object_set_role(error, ATK_ROLE_ALERT);
    atk_object_add_relationship(described, ATK_RELATION_DESCRIBED_BY, error);
    atk_object_add_relationship(error, ATK_RELATION_DESCRIPTION_FOR, described);
}

GtkWidget* symbolWidget(const std::string& symbol, const Node& node) {
    SymbolLook look = symbolLook(symbol);
    double side = node.font.value_or(ui::Font::body()).lineHeight();
    GtkWidget* widget;
    if (gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), look.iconName)) {
        widget = gtk_image_new_from_icon_name(look.iconName, GTK_ICON_SIZE_MENU);
        gtk_image_set_pixel_size(GTK_IMAGE(widget), static_cast<int>(side));
    } else {
        widget = gtk_label_new(look.glyph);
    }
    nameForAssistiveTools(widget, symbol);
    return widget;
}

}  // namespace

// ---- The renderer ---------------------------------------------------------------------------

NodeWidgets::NodeWidgets(GtkContainer* container) : container_(container) {}

NodeWidgets::~NodeWidgets() {
    for (auto& [key, entry] : fields_) g_object_unref(entry);
}

bool NodeWidgets::show(const Node& root) {
    changed_ = false;
    GtkWidget* toplevel = gtk_widget_get_toplevel(GTK_WIDGET(container_));
    GtkWidget* focus = GTK_IS_WINDOW(toplevel) ? gtk_window_get_focus(GTK_WINDOW(toplevel)) : nullptr;
    fieldUses_.clear();
    kept_.clear();
    // The new tree is laid over the shown widgets; only what changed its kind or look is made anew.
    if (!root_ || !update(root, built_)) {
        for (auto& [key, entry] : fields_) {
            if (GtkWidget* parent = gtk_widget_get_parent(entry)) gtk_container_remove(GTK_CONTAINER(parent), entry);
        }
        if (root_) gtk_widget_destroy(root_);
        root_ = build(root, Kind::vstack, built_);
        rootWidth_ = root.width;
        if (!root_) root_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_container_add(container_, root_);
        gtk_widget_show_all(root_);
        changed_ = true;
    }
    if (changed_) {
        controls_.clear();
        limits_.clear();
        defaultButton_ = nullptr;
        std::vector<Limit*> open;
        collect(built_, open);
    }
    // The same widgets take the new tree's callbacks, so a click between press and release counts.
    size_t next = 0;
    rebind(root, next);

    // Entries that this tree did not use go with their last reference; the focus is compared by
    // address only, since it may be one of them.
    bool focusKept = false;
    for (auto it = fields_.begin(); it != fields_.end();) {
        if (kept_.contains(it->first)) {
            focusKept = focusKept || it->second == focus;
            ++it;
            continue;
        }
        g_object_unref(it->second);
        it = fields_.erase(it);
    }
    if (focusKept) {
        if (!gtk_widget_is_focus(focus)) gtk_entry_grab_focus_without_selecting(GTK_ENTRY(focus));
    } else if (GTK_IS_WINDOW(toplevel) && gtk_window_get_accept_focus(GTK_WINDOW(toplevel)) &&
               !gtk_window_get_focus(GTK_WINDOW(toplevel))) {
        // The focused control went with the old widgets (the e-mail field after Continue): the
        // keyboard goes on in the first field of the new ones, so typing is not lost.
        for (GtkWidget* control : controls_) {
            if (GTK_IS_ENTRY(control) && gtk_widget_get_sensitive(control)) {
                gtk_entry_grab_focus_without_selecting(GTK_ENTRY(control));
                break;
            }
        }
    }
    if (changed_) applyLimits();
    return changed_;
}

bool NodeWidgets::update(const Node& node, Built& built) {
    if (!sameLook(node, built.look)) return false;
    switch (node.kind) {
        case Kind::text: {
            std::string text = validText(node.text);
            if (text == gtk_label_get_text(GTK_LABEL(built.widget))) return true;
            gtk_label_set_text(GTK_LABEL(built.widget), text.c_str());
            changed_ = true;
            return true;
        }
        case Kind::textField:
            return field(node) == built.widget;
        case Kind::vstack:
        case Kind::hstack:
            layStack(node, built);
            return true;
        default:
            break;
    }
    // Containers of a fixed shape keep their widgets only when every child does.
    size_t children = built.children.size();
    if ((node.kind == Kind::button || node.kind == Kind::scroll) ? std::min<size_t>(node.children.size(), 1) != children
                                                                 : node.children.size() != children)
        return false;
    for (size_t i = 0; i < children; ++i) {
        if (!update(node.children[i], built.children[i])) return false;
    }
    return true;
}

void NodeWidgets::layStack(const Node& node, Built& built) {
    GtkContainer* box = GTK_CONTAINER(built.widget);
    std::vector<Built> laid(node.children.size());
    for (size_t i = 0; i < node.children.size(); ++i) {
        const Node& child = node.children[i];
        Built* old = i < built.children.size() ? &built.children[i] : nullptr;
        // An empty node in place of a part (the gate's footer between shows) keeps it as a spare.
        if (old && child.kind == Kind::empty && old->outer) {
            bool shown = !old->spare;
            if (keepAsSpare(*old)) {
                changed_ = changed_ || shown;
                laid[i] = std::move(*old);
                continue;
            }
        }
        if (old && update(child, *old)) {
            if (old->spare) {
                old->spare = false;
                gtk_widget_show(old->outer);
                changed_ = true;
            }
            laid[i] = std::move(*old);
        } else {
            if (old) forget(*old);
            if (GtkWidget* widget = build(child, node.kind, laid[i])) {
                gtk_container_add(box, widget);
                gtk_widget_show_all(widget);
            }
            changed_ = true;
        }
        if (!laid[i].outer) continue;
        placeInStack(laid[i].outer, child, node);
        if (i > 0 && node.children[i - 1].kind == Kind::textField && laid[i - 1].outer && isErrorText(child))
            announceAsErrorOf(laid[i].outer, laid[i - 1].widget);
    }
    for (size_t i = node.children.size(); i < built.children.size(); ++i) {
        Built& dropped = built.children[i];
        changed_ = changed_ || !dropped.spare;
        if (keepAsSpare(dropped)) laid.push_back(std::move(dropped));
        else forget(dropped);
    }
    int position = 0;
    for (const auto& child : laid) {
        if (child.outer) gtk_box_reorder_child(GTK_BOX(box), child.outer, position++);
    }
    built.children = std::move(laid);
}

// Takes a subtree's widgets away, sparing the entries that a later build may take up again (and
// leaving alone those that one already took elsewhere).
void NodeWidgets::forget(const Built& built) {
    if (!built.outer) return;
    std::vector<const Built*> pending = {&built};
    while (!pending.empty()) {
        const Built* next = pending.back();
        pending.pop_back();
        GtkWidget* entry = next->look.kind == Kind::textField ? next->widget : nullptr;
        if (entry && (entry == built.outer || gtk_widget_is_ancestor(entry, built.outer)))
            gtk_container_remove(GTK_CONTAINER(gtk_widget_get_parent(entry)), entry);
        for (const auto& child : next->children) pending.push_back(&child);
    }
    gtk_widget_destroy(built.outer);
}

// Entries are left out: each belongs to its key and may be taken up elsewhere meanwhile.
bool NodeWidgets::keepAsSpare(Built& built) {
    if (!built.outer) return false;
    std::vector<const Built*> pending = {&built};
    while (!pending.empty()) {
        const Built* next = pending.back();
        pending.pop_back();
        if (next->look.kind == Kind::textField) return false;
        for (const auto& child : next->children) pending.push_back(&child);
    }
    if (!built.spare) gtk_widget_hide(built.outer);
    built.spare = true;
    return true;
}

// The controls in tree order, the default button, and the height limits with their scroll areas.
void NodeWidgets::collect(const Built& built, std::vector<Limit*>& open) {
    Limit* limit = nullptr;
    if (built.look.maxHeight && built.outer) {
        limits_.push_back(std::make_unique<Limit>(Limit{built.outer, *built.look.maxHeight, {}}));
        limit = limits_.back().get();
        open.push_back(limit);
    }
    if (built.widget) {
        if (built.look.kind == Kind::button || built.look.kind == Kind::textField) controls_.push_back(built.widget);
        if (built.look.kind == Kind::button && built.look.isDefaultAction) defaultButton_ = built.widget;
        if (built.look.kind == Kind::scroll) {
            for (auto* holder : open) holder->scrolls.push_back(GTK_SCROLLED_WINDOW(built.widget));
        }
    }
    for (const auto& child : built.children) {
        if (!child.spare) collect(child, open);
    }
    if (limit) open.pop_back();
}

// The same traversal as the build, so the n-th control node belongs to the n-th control widget.
void NodeWidgets::rebind(const Node& node, size_t& next) {
    if (node.kind == Kind::empty) return;
    if (node.kind == Kind::button && next < controls_.size()) {
        g_object_set_data_full(G_OBJECT(controls_[next++]), kButtonHook, new ButtonHook{node.action},
                               deleteButtonHook);
    } else if (node.kind == Kind::textField && next < controls_.size()) {
        g_object_set_data_full(G_OBJECT(controls_[next++]), kFieldHook, new FieldHook{node.binding, node.action},
                               deleteFieldHook);
    }
    for (const auto& child : node.children) rebind(child, next);
}

Size NodeWidgets::measure(double width) const {
    if (!root_) return {};
    if (std::isinf(width)) {
        if (rootWidth_) {
            width = *rootWidth_;
        } else {
            int minimum = 0, natural = 0;
            gtk_widget_get_preferred_width(root_, &minimum, &natural);
            width = natural;
        }
    }
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height_for_width(root_, static_cast<int>(std::ceil(width)), &minimum, &natural);
    return {width, static_cast<double>(natural)};
}

GtkWidget* NodeWidgets::build(const Node& node, Kind parent, Built& into) {
    into = Built{};
    into.look = node;
    into.look.children.clear();
    if (node.kind == Kind::empty) return nullptr;
    GtkWidget* widget = buildContent(node, parent, into);
    into.widget = widget;

    const ui::Insets& p = node.padding;
    gtk_widget_set_margin_top(widget, static_cast<int>(p.top));
    gtk_widget_set_margin_bottom(widget, static_cast<int>(p.bottom));
    gtk_widget_set_margin_start(widget, static_cast<int>(p.leading));
    gtk_widget_set_margin_end(widget, static_cast<int>(p.trailing));
    if (node.width || node.height) {
        int w = node.width ? std::max(0, static_cast<int>(*node.width - p.leading - p.trailing)) : -1;
        int h = node.height ? std::max(0, static_cast<int>(*node.height - p.top - p.bottom)) : -1;
        gtk_widget_set_size_request(widget, w, h);
    }
    if (node.tooltip) gtk_widget_set_tooltip_text(widget, validText(*node.tooltip).c_str());
    if (node.background) {
        // The background lies under the padding, so it belongs to a box around the margins.
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_container_add(GTK_CONTAINER(box), widget);
        char radius[32];
        std::snprintf(radius, sizeof radius, "border-radius:%gpx;", node.cornerRadius);
        addCss(box, "background-color:" + cssColor(*node.background) + ";" + radius);
        widget = box;
    }
    into.outer = widget;
    return widget;
}

GtkWidget* NodeWidgets::buildContent(const Node& node, Kind parent, Built& into) {
    switch (node.kind) {
        case Kind::vstack:
        case Kind::hstack: {
            bool column = node.kind == Kind::vstack;
            into.widget = gtk_box_new(column ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL,
                                      static_cast<int>(node.spacing));
            layStack(node, into);
            return into.widget;
        }
        case Kind::zstack: {
            GtkWidget* overlay = gtk_overlay_new();
            into.children.resize(node.children.size());
            for (size_t i = 0; i < node.children.size(); ++i) {
                GtkWidget* widget = build(node.children[i], node.kind, into.children[i]);
                if (!widget) continue;
                if (!gtk_bin_get_child(GTK_BIN(overlay))) {
                    gtk_container_add(GTK_CONTAINER(overlay), widget);
                } else {
                    gtk_widget_set_halign(widget, GTK_ALIGN_CENTER);
                    gtk_widget_set_valign(widget, GTK_ALIGN_CENTER);
                    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), widget);
                    // A layer only draws. GTK gives each layer an X window of its own, stacked
                    // over the input window of a button that holds the stack (the pill), so
                    // without this a click lands on the layer and the button never sees it.
                    gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(overlay), widget, TRUE);
                }
            }
            return overlay;
        }
        case Kind::text: {
            GtkWidget* label = gtk_label_new(nullptr);
            gtk_label_set_text(GTK_LABEL(label), validText(node.text).c_str());
            gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
            gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
            bool centred = parent == Kind::vstack && node.frameAlign == ui::HAlign::center && !node.width;
            gtk_label_set_xalign(GTK_LABEL(label), centred ? 0.5f : 0.0f);
            gtk_label_set_selectable(GTK_LABEL(label), node.selectable);
            addCss(label, textCss(node));
            return label;
        }
        case Kind::button:
            return buildButton(node, into);
        case Kind::textField: {
            GtkWidget* entry = field(node);
            // A field that moved leaves its old place, which is going away.
            if (GtkWidget* parent = gtk_widget_get_parent(entry)) gtk_container_remove(GTK_CONTAINER(parent), entry);
            return entry;
        }
        case Kind::divider:
            return gtk_separator_new(parent == Kind::hstack ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL);
        case Kind::spacer:
            return gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
        case Kind::scroll: {
            GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
            gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER,
                                           node.showsIndicators ? GTK_POLICY_AUTOMATIC : GTK_POLICY_EXTERNAL);
            gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroll), TRUE);
            gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(scroll), TRUE);
            gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_NONE);
            if (!node.children.empty()) {
                if (GtkWidget* content = build(node.children.front(), node.kind, into.children.emplace_back()))
                    gtk_container_add(GTK_CONTAINER(scroll), content);
            }
            return scroll;
        }
        case Kind::progress: {
            GtkWidget* spinner = gtk_spinner_new();
            int side = node.progressSize == ui::ProgressSize::mini    ? 10
                       : node.progressSize == ui::ProgressSize::small ? 16
                                                                      : 32;
            gtk_widget_set_size_request(spinner, side, side);
            gtk_spinner_start(GTK_SPINNER(spinner));
            addCss(spinner, textCss(node));
            return spinner;
        }
        case Kind::symbol: {
            GtkWidget* symbol = symbolWidget(node.text, node);
            addCss(symbol, textCss(node));
            return symbol;
        }
        case Kind::circle: {
            GtkWidget* area = gtk_drawing_area_new();
            if (node.fill) g_object_set_data_full(G_OBJECT(area), kCircleFill, new ui::Fill(*node.fill), deleteFill);
            g_signal_connect(area, "draw", G_CALLBACK(drawCircle), nullptr);
            return area;
        }
        case Kind::empty:
            break;
    }
    return gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
}

GtkWidget* NodeWidgets::buildButton(const Node& node, Built& into) {
    GtkWidget* button = gtk_button_new();
    GtkWidget* label = nullptr;
    if (!node.children.empty()) label = build(node.children.front(), Kind::button, into.children.emplace_back());
    else if (!node.symbol.empty()) label = symbolWidget(node.symbol, node);
    else {
        // A title longer than the window is cut short rather than widening the window.
        label = gtk_label_new(validText(node.text).c_str());
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    }
    if (label) gtk_container_add(GTK_CONTAINER(button), label);

    if (node.buttonStyle == ui::ButtonStyle::plain) gtk_button_set_relief(GTK_BUTTON(button), GTK_RELIEF_NONE);
    addCss(button, buttonCss(node));
    if (node.buttonStyle == ui::ButtonStyle::borderedProminent || node.isDefaultAction)
        gtk_style_context_add_class(gtk_widget_get_style_context(button), GTK_STYLE_CLASS_SUGGESTED_ACTION);
    if (node.isDefaultAction) gtk_widget_set_can_default(button, TRUE);
    gtk_widget_set_sensitive(button, node.enabled);
    gtk_widget_set_focus_on_click(button, FALSE);
    nameForAssistiveTools(button, node.text.empty() ? node.tooltip.value_or("") : node.text);
    g_object_set_data_full(G_OBJECT(button), kButtonHook, new ButtonHook{node.action}, deleteButtonHook);
    g_signal_connect(button, "clicked", G_CALLBACK(onClicked), nullptr);
    return button;
}

GtkWidget* NodeWidgets::field(const Node& node) {
    std::string key = node.text + "\n" + std::to_string(fieldUses_[node.text]++);
    GtkWidget* entry;
    if (auto it = fields_.find(key); it != fields_.end()) {
        entry = it->second;
    } else {
        entry = gtk_entry_new();
        g_object_ref_sink(entry);
        fields_.emplace(key, entry);
        g_signal_connect(entry, "changed", G_CALLBACK(onFieldChanged), nullptr);
        g_signal_connect(entry, "activate", G_CALLBACK(onFieldActivated), nullptr);
        addCss(entry, textCss(node));
    }
    kept_.insert(key);
    auto* hook = new FieldHook{node.binding, node.action};
    g_object_set_data_full(G_OBJECT(entry), kFieldHook, hook, deleteFieldHook);
    // A kept entry's error, if it had one, is told again by the stack that shows it.
    if (AtkObject* accessible = gtk_widget_get_accessible(entry)) {
        AtkRelationSet* relations = atk_object_ref_relation_set(accessible);
        if (AtkRelation* described = atk_relation_set_get_relation_by_type(relations, ATK_RELATION_DESCRIBED_BY))
            atk_relation_set_remove(relations, described);
        g_object_unref(relations);
    }
    std::string placeholder = validText(node.text);
    if (g_strcmp0(gtk_entry_get_placeholder_text(GTK_ENTRY(entry)), placeholder.c_str()) != 0)
        gtk_entry_set_placeholder_text(GTK_ENTRY(entry), placeholder.c_str());
    nameForAssistiveTools(entry, placeholder);
    std::string value = validText(node.binding.get ? node.binding.get() : std::string());
    // Setting the same text would move the caret to the end while the person types.
    if (value != gtk_entry_get_text(GTK_ENTRY(entry))) {
        hook->updating = true;
        gtk_entry_set_text(GTK_ENTRY(entry), value.c_str());
        hook->updating = false;
    }
    gtk_widget_set_sensitive(entry, node.enabled);
    return entry;
}

void NodeWidgets::applyLimits() {
    for (const auto& limit : limits_) {
        if (!limit->widget || limit->scrolls.empty()) continue;
        int width = 0, ignored = 0;
        gtk_widget_get_size_request(limit->widget, &width, &ignored);
        if (width <= 0) gtk_widget_get_preferred_width(limit->widget, &ignored, &width);
        int minimum = 0, natural = 0;
        gtk_widget_get_preferred_height_for_width(limit->widget, width, &minimum, &natural);
        // Content that fits with no scroll area held back needs no second layout.
        bool held = std::ranges::any_of(limit->scrolls, [](GtkScrolledWindow* scroll) {
            return gtk_scrolled_window_get_max_content_height(scroll) >= 0;
        });
        if (!held && natural <= limit->maxHeight) continue;
        for (auto* scroll : limit->scrolls) gtk_scrolled_window_set_max_content_height(scroll, -1);
        gtk_widget_get_preferred_height_for_width(limit->widget, width, &minimum, &natural);
        double excess = natural - limit->maxHeight;
        // Too tall: the scroll areas give way first, in order.
        for (auto* scroll : limit->scrolls) {
            if (excess <= 0) break;
            int scrollMinimum = 0, scrollNatural = 0;
            gtk_widget_get_preferred_height_for_width(GTK_WIDGET(scroll), width, &scrollMinimum, &scrollNatural);
            double give = std::min(excess, static_cast<double>(scrollNatural));
            gtk_scrolled_window_set_max_content_height(scroll, static_cast<int>(scrollNatural - give));
            excess -= give;
        }
    }
}

}  // namespace desktop::x11
