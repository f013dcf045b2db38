#include "Desktop/View.h"

#include <algorithm>
#include <cmath>

#include "Desktop/ViewMetrics.h"

namespace ui {

using namespace metrics;

// The deterministic layout of a view tree: sizes from the fixed metric, frames and clips.

namespace {

// Takes whatever width it is offered along a row.
bool isGreedy(const Node& n) {
    if (n.width) return false;
    return n.kind == Node::Kind::textField || n.kind == Node::Kind::divider ||
           n.kind == Node::Kind::spacer;
}

// Sized by its content alone, whatever a row offers.
bool isRigid(const Node& n) {
    if (n.width) return true;
    switch (n.kind) {
        case Node::Kind::button:
        case Node::Kind::symbol:
        case Node::Kind::circle:
        case Node::Kind::progress:
            return true;
        default:
            return false;
    }
}

Size measureText(const std::string& text, const Font& font, double width) {
    const double space = kCharWidth * font.pointSize();
    width = std::max(width, space);
    double widest = 0;
    size_t lines = 0;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        std::string_view paragraph(text.data() + start,
                                   (end == std::string::npos ? text.size() : end) - start);
        double line = 0;
        size_t wordStart = 0;
        while (wordStart <= paragraph.size()) {
            size_t wordEnd = paragraph.find(' ', wordStart);
            if (wordEnd == std::string_view::npos) wordEnd = paragraph.size();
            double w = textWidth(paragraph.substr(wordStart, wordEnd - wordStart), font);
            if (line > 0 && line + space + w <= width) {
                line += space + w;
            } else {
                if (line > 0) {
                    ++lines;
                    widest = std::max(widest, line);
                }
                // A word wider than the line breaks between characters.
                double extra = w > width ? std::ceil(w / width - 1e-9) - 1 : 0;
                lines += static_cast<size_t>(extra);
                if (extra > 0) widest = width;
                line = extra > 0 ? w - extra * width : w;
            }
            wordStart = wordEnd + 1;
        }
        ++lines;
        widest = std::max(widest, line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {std::min(widest, width), static_cast<double>(lines) * font.lineHeight()};
}

Size measureContent(const Node& node, double width);

// Widths a row gives its children: rigid ones first, then the others share what is left in
// order, spacers last.
std::vector<Size> rowSizes(const Node& row, double width) {
    std::vector<Size> sizes(row.children.size());
    size_t shown = 0, flexible = 0;
    double used = 0;
    for (size_t i = 0; i < row.children.size(); ++i) {
        const Node& child = row.children[i];
        if (isEmpty(child)) continue;
        ++shown;
        if (isRigid(child)) {
            sizes[i] = measure(child, kUnbounded);
            used += sizes[i].width;
        } else if (child.kind != Node::Kind::spacer) {
            ++flexible;
        }
    }
    if (shown > 1) used += row.spacing * static_cast<double>(shown - 1);
    double left = std::max(0.0, width - used);
    for (size_t i = 0; i < row.children.size(); ++i) {
        const Node& child = row.children[i];
        if (isEmpty(child) || isRigid(child) || child.kind == Node::Kind::spacer) continue;
        double share = std::isinf(width) ? kUnbounded : left / static_cast<double>(flexible);
        sizes[i] = measure(child, share);
        if (!std::isinf(width)) left = std::max(0.0, left - sizes[i].width);
        --flexible;
    }
    size_t spacers = 0;
    for (const auto& child : row.children) spacers += child.kind == Node::Kind::spacer;
    for (size_t i = 0; i < row.children.size(); ++i) {
        if (row.children[i].kind != Node::Kind::spacer) continue;
        sizes[i] = {std::isinf(width) ? 0 : left / static_cast<double>(spacers), 0};
    }
    return sizes;
}

Size measureContent(const Node& node, double width) {
    switch (node.kind) {
        case Node::Kind::empty:
        case Node::Kind::spacer:
        case Node::Kind::circle:
            return {};
        case Node::Kind::text:
            return measureText(node.text, node.font.value_or(Font::body()), width);
        case Node::Kind::symbol: {
            double side = node.font.value_or(Font::body()).lineHeight();
            return {side, side};
        }
        case Node::Kind::progress: {
            double side = progressSide(node.progressSize);
            return {side, side};
        }
        case Node::Kind::divider:
            return {std::isinf(width) ? 0 : width, kDividerThickness};
        case Node::Kind::button: {
            if (!node.children.empty()) return measure(node.children.front(), width);
            Font font = controlFont(node);
            double label = node.symbol.empty() ? textWidth(node.text, font) : font.lineHeight();
            if (node.buttonStyle == ButtonStyle::plain) return {label, font.lineHeight()};
            return {label + 2 * buttonInset(node.controlSize), buttonHeight(node.controlSize)};
        }
        case Node::Kind::textField: {
            Font font = node.font.value_or(Font::body());
            double natural = textWidth(node.text, font) + 2 * kTextFieldInset;
            return {std::isinf(width) ? natural : width, font.lineHeight() + kTextFieldChrome};
        }
        case Node::Kind::vstack: {
            Size total;
            size_t shown = 0;
            for (const auto& child : node.children) {
                if (isEmpty(child)) continue;
                Size s = measure(child, width);
                total.width = std::max(total.width, s.width);
                total.height += s.height;
                ++shown;
            }
            if (shown > 1) total.height += node.spacing * static_cast<double>(shown - 1);
            return total;
        }
        case Node::Kind::hstack: {
            auto sizes = rowSizes(node, width);
            Size total;
            size_t shown = 0;
            bool greedy = false;
            for (size_t i = 0; i < sizes.size(); ++i) {
                if (isEmpty(node.children[i])) continue;
                total.width += sizes[i].width;
                total.height = std::max(total.height, sizes[i].height);
                greedy = greedy || isGreedy(node.children[i]);
                ++shown;
            }
            if (shown > 1) total.width += node.spacing * static_cast<double>(shown - 1);
            if (greedy && !std::isinf(width)) total.width = width;
            return total;
        }
        case Node::Kind::zstack:
        case Node::Kind::scroll: {
            Size total;
            for (const auto& child : node.children) {
                Size s = measure(child, width);
                total.width = std::max(total.width, s.width);
                total.height = std::max(total.height, s.height);
            }
            return total;
        }
    }
    return {};
}

double horizontal(const Insets& p) { return p.leading + p.trailing; }
double vertical(const Insets& p) { return p.top + p.bottom; }

}  // namespace

Size measure(const Node& node, double proposedWidth) {
    if (isEmpty(node)) return {};
    double outer = node.width.value_or(proposedWidth);
    Size content = measureContent(node, std::max(0.0, outer - horizontal(node.padding)));
    Size size{content.width + horizontal(node.padding), content.height + vertical(node.padding)};
    if (node.width) size.width = *node.width;
    if (node.height) size.height = *node.height;
    if (node.maxHeight) size.height = std::min(size.height, *node.maxHeight);
    return size;
}

namespace {

Rect intersection(const Rect& a, const Rect& b) {
    double x0 = std::max(a.minX(), b.minX()), y0 = std::max(a.minY(), b.minY());
    double x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
    return desktop::makeRect(x0, y0, std::max(0.0, x1 - x0), std::max(0.0, y1 - y0));
}

double alignedX(HAlign align, double room, double width) {
    switch (align) {
        case HAlign::leading: return 0;
        case HAlign::center: return (room - width) / 2;
        case HAlign::trailing: return room - width;
    }
    return 0;
}

double alignedY(VAlign align, double room, double height) {
    switch (align) {
        case VAlign::top: return 0;
        case VAlign::center: return (room - height) / 2;
        case VAlign::bottom: return room - height;
    }
    return 0;
}

void placeNode(const Node& node, Rect frame, Rect clip, std::vector<PlacedNode>& out) {
    if (isEmpty(node)) return;
    out.push_back({&node, frame, clip});
    Rect inner = desktop::makeRect(frame.minX() + node.padding.leading, frame.minY() + node.padding.top,
                                   std::max(0.0, frame.width() - horizontal(node.padding)),
                                   std::max(0.0, frame.height() - vertical(node.padding)));
    switch (node.kind) {
        case Node::Kind::vstack: {
            std::vector<Size> sizes;
            double natural = 0;
            size_t shown = 0;
            for (const auto& child : node.children) {
                sizes.push_back(measure(child, inner.width()));
                if (isEmpty(child)) continue;
                natural += sizes.back().height;
                ++shown;
            }
            if (shown > 1) natural += node.spacing * static_cast<double>(shown - 1);
            // Too little room: scroll areas give way first.
            double excess = natural - inner.height();
            for (size_t i = 0; i < sizes.size() && excess > 0; ++i) {
                if (node.children[i].kind != Node::Kind::scroll) continue;
                double give = std::min(excess, sizes[i].height);
                sizes[i].height -= give;
                excess -= give;
            }
            double y = inner.minY();
            for (size_t i = 0; i < sizes.size(); ++i) {
                const Node& child = node.children[i];
                if (isEmpty(child)) continue;
                double w = isGreedy(child) ? inner.width() : sizes[i].width;
                double x = inner.minX() + alignedX(node.hAlign, inner.width(), w);
                placeNode(child, desktop::makeRect(x, y, w, sizes[i].height), clip, out);
                y += sizes[i].height + node.spacing;
            }
            return;
        }
        case Node::Kind::hstack: {
            auto sizes = rowSizes(node, inner.width());
            double x = inner.minX();
            for (size_t i = 0; i < sizes.size(); ++i) {
                const Node& child = node.children[i];
                if (isEmpty(child)) continue;
                double y = inner.minY() + alignedY(node.vAlign, inner.height(), sizes[i].height);
                placeNode(child, desktop::makeRect(x, y, sizes[i].width, sizes[i].height), clip, out);
                x += sizes[i].width + node.spacing;
            }
            return;
        }
        case Node::Kind::zstack:
        case Node::Kind::scroll: {
            Rect childClip = node.kind == Node::Kind::scroll ? intersection(clip, inner) : clip;
            for (const auto& child : node.children) {
                Size s = measure(child, inner.width());
                double x = inner.minX() + alignedX(node.frameAlign, inner.width(), s.width);
                double y = node.kind == Node::Kind::scroll
                               ? inner.minY()
                               : inner.minY() + (inner.height() - s.height) / 2;
                placeNode(child, desktop::makeRect(x, y, s.width, s.height), childClip, out);
            }
            return;
        }
        default:
            return;
    }
}

}  // namespace

std::vector<PlacedNode> place(const Node& root, Size size) {
    std::vector<PlacedNode> out;
    Rect all = desktop::makeRect(0, 0, size.width, size.height);
    placeNode(root, all, all, out);
    return out;
}

}  // namespace ui
