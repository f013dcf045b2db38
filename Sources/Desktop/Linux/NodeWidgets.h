// Renders a hosted ui::Node tree as GTK 3 widgets inside one container: stacks as boxes, text as
// labels, buttons, entries bound to their model field, separators, scroll areas, spinners,
// themed symbols and drawn circles, styled through per-look CSS. A new tree is laid over the
// shown widgets by position and kind: a node of the same kind and look keeps its widget (a label
// takes its new text), a stack lays its children out again, and only what changed is made anew,
// so a change is as cheap as what it changes; what a stack drops from its end, or holds an empty
// node in place of, is hidden, not destroyed, so a part that comes and goes (a notice, the gate's
// footer) costs a hide and a show. Each text field keeps its entry across trees, so
// typing, caret and focus survive the rebuilds that the typing itself causes, and kept controls
// take the new tree's callbacks, so a click is never lost to a rebuild between press and release.
// Main thread only. Owned by the window that shows the tree.
#pragma once

#include <map>
#include <memory>
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

    // Shows `root`, laid over the shown widgets; answers whether anything changed.
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
    // What one node was built into, mirroring the tree: the node itself (children aside), the
    // widget its parent holds (its background box, else its own widget) and its own widget. A
    // stack's children that the last tree dropped stay behind its shown ones as hidden spares.
    struct Built {
        ui::Node look;
        GtkWidget* outer = nullptr;
        GtkWidget* widget = nullptr;
        std::vector<Built> children;
        bool spare = false;
    };
    GtkWidget* build(const ui::Node& node, ui::Node::Kind parent, Built& into);
    GtkWidget* buildContent(const ui::Node& node, ui::Node::Kind parent, Built& into);
    GtkWidget* buildButton(const ui::Node& node, Built& into);
    GtkWidget* field(const ui::Node& node);
    // Lays `node` over what `built` shows; false when it needs widgets of its own.
    bool update(const ui::Node& node, Built& built);
    void layStack(const ui::Node& node, Built& built);
    void forget(const Built& built);
    // Hides a child the tree dropped, to be taken up again by the next one like it.
    bool keepAsSpare(Built& built);
    void collect(const Built& built, std::vector<Limit*>& open);
    void applyLimits();
    void rebind(const ui::Node& node, size_t& next);

    GtkContainer* container_;
    GtkWidget* root_ = nullptr;
    Built built_;
    std::optional<double> rootWidth_;
    GtkWidget* defaultButton_ = nullptr;
    std::vector<std::unique_ptr<Limit>> limits_;
    // Entries by placeholder and occurrence, each holding one reference.
    std::map<std::string, GtkWidget*> fields_;
    std::map<std::string, int> fieldUses_;
    std::set<std::string> kept_;
    // The shown buttons and fields in tree order, and whether the tree being shown changed any.
    std::vector<GtkWidget*> controls_;
    bool changed_ = false;
};

}  // namespace desktop::x11
