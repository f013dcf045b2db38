// The view tree's shared measures: a small fixed metric in place of real font shaping (every
// user-perceived character is the same fraction of the point size wide) and the control sizes,
// for the layout and the hosting view. Internal to the view units.
#pragma once

#include <string_view>

#include "Desktop/View.h"

namespace ui::metrics {

inline constexpr double kCharWidth = 0.55;
inline constexpr double kDividerThickness = 1;
inline constexpr double kTextFieldChrome = 7;
inline constexpr double kTextFieldInset = 4;

double buttonHeight(ControlSize size);
double buttonInset(ControlSize size);
Font controlFont(const Node& node);
double progressSide(ProgressSize size);
double textWidth(std::string_view text, const Font& font);

inline bool isEmpty(const Node& n) { return n.kind == Node::Kind::empty; }

// Depth first, the node itself first.
template <class Pred>
const Node* findFirst(const Node& node, const Pred& pred) {
    if (pred(node)) return &node;
    for (const auto& child : node.children) {
        if (const Node* found = findFirst(child, pred)) return found;
    }
    return nullptr;
}

}  // namespace ui::metrics
