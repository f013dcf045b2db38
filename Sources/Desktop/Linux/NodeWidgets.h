// Renders a hosted ui::Node tree as GTK 3 widgets inside one container: stacks as boxes, text as
// labels, buttons, entries bound to their model field, separators, scroll areas, spinners,
// themed symbols and drawn circles, styled through per-look CSS. A rebuild replaces the widgets
// but keeps each text field's entry, so typing, caret and focus survive the rebuilds that the
// typing itself causes; a tree that renders the same as the shown one keeps its widgets and only
// takes the new callbacks, so a click is never lost to a rebuild between press and release.
// Main thread only. Owned by the window that shows the tree.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "Desktop/View.h"

namespace desktop::x11 {

class NodeWidgets {
public:
    // Renders into `container`, which outlives this object.
    explicit NodeWidgets(GtkContainer* container);
    ~NodeWidgets();
    NodeWidgets(const NodeWidgets&) = delete;
    NodeWidgets& operator=(const NodeWidgets&) = delete;

    // Replaces the container's widgets with those of `root`; answers whether it had to.
    bool show(const ui::Node& root);
    // The rendered tree's size at a proposed width (kUnbounded: the root's own width, else its
    // natural width), as GTK lays it out.
    Size measure(double width) const;
    // The button marked as the default action in the last build, if any.
    GtkWidget* defaultButton() const { return defaultButton_; }

private:
    struct Limit {
        GtkWidget* widget;
        double maxHeight;
        std::vector<GtkScrolledWindow*> scrolls;
    };
    GtkWidget* build(const ui::Node& node, ui::Node::Kind parent, std::vector<Limit*>& open);
    GtkWidget* buildContent(const ui::Node& node, ui::Node::Kind parent, std::vector<Limit*>& open);
    GtkWidget* buildButton(const ui::Node& node, std::vector<Limit*>& open);
    GtkWidget* field(const ui::Node& node);
    void applyLimits();
    void rebind(const ui::Node& node, size_t& next);

    GtkContainer* container_;
    GtkWidget* root_ = nullptr;
    std::optional<double> rootWidth_;
    GtkWidget* defaultButton_ = nullptr;
    std::vector<std::unique_ptr<Limit>> limits_;
    // Entries by placeholder and occurrence, each holding one reference.
    std::map<std::string, GtkWidget*> fields_;
    std::map<std::string, int> fieldUses_;
    std::set<std::string> kept_;
    // What the shown widgets render, and their buttons and fields in tree order.
    std::string shown_;
    std::vector<GtkWidget*> controls_;
};

}  // namespace desktop::x11
