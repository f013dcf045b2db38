#include "Desktop/View.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "Desktop/Desktop.h"
#include "Desktop/Unicode.h"

namespace ui {

// ---- Metrics -------------------------------------------------------------------------------
// A small fixed metric in place of real font shaping: every user-perceived character is the
// same fraction of the point size wide, and each text style has its platform line height.

namespace {
constexpr double kCharWidth = 0.55;
constexpr double kDividerThickness = 1;
constexpr double kTextFieldChrome = 7;
constexpr double kTextFieldInset = 4;

double buttonHeight(ControlSize size) {
    switch (size) {
        case ControlSize::mini: return 16;
        case ControlSize::small: return 20;
        case ControlSize::regular: return 22;
        case ControlSize::large: return 28;
    }
    return 22;
}

double buttonInset(ControlSize size) {
    switch (size) {
        case ControlSize::mini: return 4;
        case ControlSize::small: return 6;
        case ControlSize::regular: return 8;
        case ControlSize::large: return 10;
    }
    return 8;
}

Font controlFont(const Node& node) {
    if (node.font) return *node.font;
    switch (node.controlSize) {
        case ControlSize::mini: return Font::system(9);
        case ControlSize::small: return Font::system(11);
        case ControlSize::regular: return Font::body();
        case ControlSize::large: return Font::system(15);
    }
    return Font::body();
}

double progressSide(ProgressSize size) {
    switch (size) {
        case ProgressSize::mini: return 10;
        case ProgressSize::small: return 16;
        case ProgressSize::regular: return 32;
    }
    return 32;
}

double textWidth(std::string_view text, const Font& font) {
    return static_cast<double>(desktop::unicode::graphemeCount(text)) * kCharWidth * font.pointSize();
}

std::string number(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
}
}  // namespace

double Font::pointSize() const {
    switch (style) {
        case TextStyle::body: return 13;
        case TextStyle::headline: return 13;
        case TextStyle::callout: return 12;
        case TextStyle::caption: return 10;
        case TextStyle::caption2: return 10;
        case TextStyle::title3: return 15;
        case TextStyle::system: return size;
    }
    return 13;
}

double Font::lineHeight() const {
    switch (style) {
        case TextStyle::body: return 16;
        case TextStyle::headline: return 16;
        case TextStyle::callout: return 15;
        case TextStyle::caption: return 13;
        case TextStyle::caption2: return 13;
        case TextStyle::title3: return 20;
        case TextStyle::system: return std::ceil(size * 1.25);
    }
    return 16;
}

std::string Font::describe() const {
    std::string out;
    switch (style) {
        case TextStyle::body: out = "body"; break;
        case TextStyle::headline: out = "headline"; break;
        case TextStyle::callout: out = "callout"; break;
        case TextStyle::caption: out = "caption"; break;
        case TextStyle::caption2: out = "caption2"; break;
        case TextStyle::title3: out = "title3"; break;
        case TextStyle::system: out = "system " + number(size); break;
    }
    bool defaultWeight = weight == (style == TextStyle::headline ? Weight::semibold : Weight::regular);
    if (!defaultWeight) {
        switch (weight) {
            case Weight::regular: out += " regular"; break;
            case Weight::medium: out += " medium"; break;
            case Weight::semibold: out += " semibold"; break;
            case Weight::bold: out += " bold"; break;
        }
    }
    return out;
}

namespace {
std::string describeRgb(const Rgb& c) {
    std::string out = "srgb(" + number(c.red) + ", " + number(c.green) + ", " + number(c.blue);
    if (c.opacity != 1) out += ", " + number(c.opacity);
    return out + ")";
}
}  // namespace

std::string Color::describe() const {
    switch (kind) {
        case Kind::primary: return "primary";
        case Kind::secondary: return "secondary";
        case Kind::tertiary: return "tertiary";
        case Kind::accent: return "accent";
        case Kind::red: return "red";
        case Kind::orange: return "orange";
        case Kind::blue: return "blue";
        case Kind::green: return "green";
        case Kind::white: return "white";
        case Kind::clear: return "clear";
        case Kind::controlBackground: return "control background";
        case Kind::srgb: return describeRgb(rgb);
    }
    return "primary";
}

std::string Gradient::describe() const {
    std::string out = "gradient";
    for (size_t i = 0; i < stops.size(); ++i) out += (i ? " → " : " ") + describeRgb(stops[i]);
    return out;
}

// ---- Builders ------------------------------------------------------------------------------

Node&& Node::padded(Insets insets) && {
    if (width || height || maxHeight) {
        // Padding outside a frame: the framed node becomes the content of a padded one.
        Node outer = ZStack({});
        outer.children.push_back(std::move(*this));
        *this = std::move(outer);
    }
    padding.top += insets.top;
    padding.leading += insets.leading;
    padding.bottom += insets.bottom;
    padding.trailing += insets.trailing;
    return std::move(*this);
}

Node&& Node::frame(std::optional<double> w, std::optional<double> h, HAlign align) && {
    if (w) width = w;
    if (h) height = h;
    frameAlign = align;
    return std::move(*this);
}

namespace {
Node make(Node::Kind kind) {
    Node node;
    node.kind = kind;
    return node;
}
}  // namespace

Node EmptyView() { return make(Node::Kind::empty); }

Node VStack(HAlign align, double spacing, std::vector<Node> children) {
    Node node = make(Node::Kind::vstack);
    node.hAlign = align;
    node.spacing = spacing;
    node.children = std::move(children);
    return node;
}

Node HStack(VAlign align, double spacing, std::vector<Node> children) {
    Node node = make(Node::Kind::hstack);
    node.vAlign = align;
    node.spacing = spacing;
    node.children = std::move(children);
    return node;
}

Node ZStack(std::vector<Node> children) {
    Node node = make(Node::Kind::zstack);
    node.children = std::move(children);
    return node;
}

Node Text(std::string text) {
    Node node = make(Node::Kind::text);
    node.text = std::move(text);
    return node;
}

Node Button(std::string title, std::function<void()> action) {
    Node node = make(Node::Kind::button);
    node.text = std::move(title);
    node.action = std::move(action);
    return node;
}

Node SymbolButton(std::string symbol, std::string title, std::function<void()> action) {
    Node node = Button(std::move(title), std::move(action));
    node.symbol = std::move(symbol);
    return node;
}

Node TapArea(Node label, std::function<void()> action) {
    Node node = Button("", std::move(action)).style(ButtonStyle::plain);
    node.children.push_back(std::move(label));
    return node;
}

Node TextField(std::string placeholder, Binding binding) {
    Node node = make(Node::Kind::textField);
    node.text = std::move(placeholder);
    node.binding = std::move(binding);
    return node;
}

Node Divider() { return make(Node::Kind::divider); }
Node Spacer() { return make(Node::Kind::spacer); }

Node ScrollView(Node content) {
    Node node = make(Node::Kind::scroll);
    node.children.push_back(std::move(content));
    return node;
}

Node ProgressView(ProgressSize size) {
    Node node = make(Node::Kind::progress);
    node.progressSize = size;
    return node;
}

Node Image(std::string systemSymbol) {
    Node node = make(Node::Kind::symbol);
    node.text = std::move(systemSymbol);
    return node;
}

Node Circle() { return make(Node::Kind::circle); }

// ---- Layout --------------------------------------------------------------------------------

namespace {

bool isEmpty(const Node& n) { return n.kind == Node::Kind::empty; }

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

// ---- Text rendering ------------------------------------------------------------------------

namespace {

// In double quotes, with quotes and backslashes inside escaped so the text's end is never in doubt.
std::string inQuotes(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string withTraits(std::string line, const std::vector<std::string>& traits) {
    if (traits.empty()) return line;
    line += " (";
    for (size_t i = 0; i < traits.size(); ++i) line += (i ? ", " : "") + traits[i];
    return line + ")";
}

bool isLeaf(const Node& n) {
    return n.kind != Node::Kind::vstack && n.kind != Node::Kind::hstack &&
           n.kind != Node::Kind::zstack && n.kind != Node::Kind::scroll;
}

bool isSilent(const Node& n) { return isEmpty(n) || n.kind == Node::Kind::spacer; }

std::string describeFill(const Fill& fill) {
    return std::visit([](const auto& f) { return f.describe(); }, fill);
}

std::string leafLine(const Node& n) {
    std::vector<std::string> traits;
    auto addColour = [&] {
        if (n.foreground && n.foreground->kind != Color::Kind::primary)
            traits.push_back(n.foreground->describe());
    };
    switch (n.kind) {
        case Node::Kind::text: {
            if (n.font && *n.font != Font::body()) traits.push_back(n.font->describe());
            addColour();
            if (n.background) traits.push_back("on " + n.background->describe());
            return withTraits(inQuotes(n.text), traits);
        }
        case Node::Kind::button: {
            if (!n.children.empty()) {
                const Node& content = n.children.front();
                std::string label;
                if (isLeaf(content)) label = leafLine(content);
                else {
                    for (const auto& part : content.children) {
                        if (isSilent(part)) continue;
                        label += (label.empty() ? "" : "  ") + leafLine(part);
                    }
                }
                if (n.tooltip) traits.push_back("tooltip " + inQuotes(*n.tooltip));
                return withTraits("[" + label + "]", traits);
            }
            std::string label = n.symbol.empty() ? n.text : "<" + n.symbol + "> " + n.text;
            if (n.buttonStyle == ButtonStyle::plain) traits.push_back("plain");
            if (n.buttonStyle == ButtonStyle::bordered) traits.push_back("bordered");
            if (n.buttonStyle == ButtonStyle::borderedProminent) traits.push_back("prominent");
            if (n.controlSize == ControlSize::small) traits.push_back("small");
            if (n.controlSize == ControlSize::mini) traits.push_back("mini");
            if (n.font) traits.push_back(n.font->describe());
            addColour();
            if (n.isDefaultAction) traits.push_back("default");
            if (!n.enabled) traits.push_back("disabled");
            if (n.tooltip) traits.push_back("tooltip " + inQuotes(*n.tooltip));
            return withTraits("[" + label + "]", traits);
        }
        case Node::Kind::textField: {
            std::string value = n.binding.get ? n.binding.get() : std::string();
            if (!n.enabled) traits.push_back("disabled");
            return withTraits("[text field " + (value.empty() ? "placeholder " + inQuotes(n.text)
                                                               : inQuotes(value)) + "]",
                              traits);
        }
        case Node::Kind::symbol:
            addColour();
            return withTraits("<" + n.text + ">", traits);
        case Node::Kind::circle:
            if (n.fill) traits.push_back(describeFill(*n.fill));
            return withTraits("circle", traits);
        case Node::Kind::progress:
            traits.push_back(n.progressSize == ProgressSize::mini    ? "mini"
                             : n.progressSize == ProgressSize::small ? "small"
                                                                     : "regular");
            addColour();
            return withTraits("spinner", traits);
        case Node::Kind::divider:
            return "────────";
        default:
            return "";
    }
}

// One rendered element: its text (which may hold line breaks) at a depth.
struct Line {
    int indent;
    std::string text;
    const Node* node;
};

class Renderer {
public:
    // With a size, scroll areas mark where they cut their content off.
    Renderer(const Node& root, std::optional<Size> size) {
        if (!size) return;
        for (const auto& placed : place(root, *size)) placed_.emplace(placed.node, placed);
    }

    void node(const Node& n, int indent) {
        if (isSilent(n)) return;
        if (isLeaf(n)) return add(indent, leafLine(n), n);
        if (n.kind == Node::Kind::vstack) {
            for (const auto& child : n.children) node(child, indent);
            return;
        }
        if (n.kind == Node::Kind::scroll) {
            add(indent, "scroll", n);
            size_t first = lines_.size();
            for (const auto& child : n.children) node(child, indent + 1);
            markCut(first, indent + 1);
            return;
        }
        // Rows and layers of plain elements read best on one line.
        bool flat = std::all_of(n.children.begin(), n.children.end(),
                                [](const Node& c) { return isSilent(c) || isLeaf(c); });
        if (flat) {
            std::string joined;
            for (const auto& child : n.children) {
                if (isSilent(child)) continue;
                if (!joined.empty()) joined += "  ";
                joined += leafLine(child);
            }
            if (!joined.empty()) add(indent, joined, n);
            return;
        }
        add(indent, n.kind == Node::Kind::hstack ? "row" : "layers", n);
        for (const auto& child : n.children) node(child, indent + 1);
    }

    // Continuation lines of a multi-line text sit one column in from where the text began.
    std::string text() const {
        std::string out;
        for (const auto& line : lines_) {
            std::string margin(static_cast<size_t>(line.indent) * 2, ' ');
            out += margin;
            for (char c : line.text) {
                out += c;
                if (c == '\n') out += margin + " ";
            }
            out += '\n';
        }
        return out;
    }

private:
    void add(int indent, std::string text, const Node& n) {
        lines_.push_back({indent, std::move(text), &n});
    }

    // Before the first of the lines from `first` on that the scroll area does not show in full,
    // a line says how many rows below are hidden.
    void markCut(size_t first, int indent) {
        auto cut =
            std::find_if(lines_.begin() + static_cast<std::ptrdiff_t>(first), lines_.end(),
                         [this](const Line& line) { return line.node && isCutOff(*line.node); });
        if (cut == lines_.end()) return;
        size_t rows = 0;
        for (auto it = cut; it != lines_.end(); ++it)
            rows += 1 + static_cast<size_t>(std::count(it->text.begin(), it->text.end(), '\n'));
        std::string marker = "┄┄ the scroll area ends here: " + std::to_string(rows) +
                             (rows == 1 ? " row" : " rows") + " hidden below ┄┄";
        lines_.insert(cut, Line{indent, std::move(marker), nullptr});
    }

    bool isCutOff(const Node& n) const {
        auto it = placed_.find(&n);
        // Half a point of slack for rounding.
        return it != placed_.end() && it->second.frame.maxY() > it->second.clip.maxY() + 0.5;
    }

    std::unordered_map<const Node*, PlacedNode> placed_;
    std::vector<Line> lines_;
};

void collectTexts(const Node& node, std::vector<std::string>& out) {
    if (node.kind == Node::Kind::text) out.push_back(node.text);
    for (const auto& child : node.children) collectTexts(child, out);
}

template <class Pred>
const Node* findFirst(const Node& node, const Pred& pred) {
    if (pred(node)) return &node;
    for (const auto& child : node.children) {
        if (const Node* found = findFirst(child, pred)) return found;
    }
    return nullptr;
}

}  // namespace

std::string render(const Node& root, std::optional<Size> size) {
    Renderer renderer(root, size);
    renderer.node(root, 0);
    return renderer.text();
}

std::vector<std::string> texts(const Node& root) {
    std::vector<std::string> out;
    collectTexts(root, out);
    return out;
}

// ---- Hosting -------------------------------------------------------------------------------

HostingView::HostingView(Body body, std::vector<desktop::Observable*> observed)
    : body_(std::move(body)) {
    for (auto* object : observed) {
        subscriptions_.push_back(object->observe([weak = std::weak_ptr<uint64_t>(changes_),
                                                  changed = std::weak_ptr<desktop::Signal<>>(changed_)] {
            if (auto changes = weak.lock()) ++*changes;
            if (auto signal = changed.lock()) signal->emit();
            // The announcement comes before the change: look again once it has been made.
            if (desktop::isInstalled()) {
                desktop::current().runLoop().async([weak] {
                    if (auto changes = weak.lock()) ++*changes;
                });
            }
        }));
    }
}

const Node& HostingView::root() {
    if (builtAt_ != *changes_) {
        builtAt_ = *changes_;
        root_ = body_();
    }
    return root_;
}

Size HostingView::fittingSize(double width) {
    Size size = measure_ ? measure_(width) : measure(root(), width);
    return {std::ceil(size.width), std::ceil(size.height)};
}

std::string HostingView::render(std::optional<Size> size) {
    return ui::render(root(), size);
}
std::vector<std::string> HostingView::texts() { return ui::texts(root()); }

namespace {
std::unexpected<ControlError> failure(std::string_view what, std::string_view name) {
    return std::unexpected(ControlError{std::string(what) + "\"" + std::string(name) + "\"", true});
}

std::unexpected<ControlError> disabled(std::string_view name) {
    return std::unexpected(ControlError{"\"" + std::string(name) + "\" is disabled"});
}

ControlResult invoke(const Node& control, std::string_view name) {
    if (!control.enabled) return disabled(name);
    // The action may rebuild the tree that holds it.
    auto action = control.action;
    if (action) action();
    return {};
}
}  // namespace

const Node* HostingView::findField(std::string_view placeholder) {
    return findFirst(root(), [&](const Node& n) {
        return n.kind == Node::Kind::textField && (placeholder == "*" || n.text == placeholder);
    });
}

ControlResult HostingView::press(std::string_view title) {
    const Node& tree = root();
    if (const Node* button = findFirst(tree, [&](const Node& n) {
            return n.kind == Node::Kind::button && n.text == title;
        }))
        return invoke(*button, title);
    if (const Node* tipped = findFirst(tree, [&](const Node& n) {
            return n.isControl() && n.tooltip == title;
        })) {
        if (tipped->kind == Node::Kind::button) return invoke(*tipped, title);
        if (!tipped->enabled) return disabled(title);
        focused_ = tipped->text;
        return {};
    }
    if (const Node* field = findField(title); field && title != "*") {
        if (!field->enabled) return disabled(title);
        focused_ = field->text;
        return {};
    }
    return failure("no control ", title);
}

ControlResult HostingView::fill(std::string_view placeholder, std::string text) {
    const Node* field = findField(placeholder);
    if (!field) return failure("no text field ", placeholder);
    if (!field->enabled) return disabled(placeholder);
    focused_ = field->text;
    auto set = field->binding.set;
    if (set) set(std::move(text));
    return {};
}

ControlResult HostingView::submit(std::string_view placeholder) {
    const Node* field = findField(placeholder);
    if (!field) return failure("no text field ", placeholder);
    return invoke(*field, placeholder);
}

std::expected<bool, ControlError> HostingView::clickAt(Point point, Size viewSize) {
    auto placed = place(root(), viewSize);
    // The deepest control under the point is the one drawn on top.
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
        if (!it->node->isControl() || !it->frame.contains(point) || !it->clip.contains(point))
            continue;
        if (!it->node->enabled) return false;
        if (it->node->kind == Node::Kind::textField) {
            focused_ = it->node->text;
            return true;
        }
        auto result = invoke(*it->node, it->node->text);
        if (!result) return std::unexpected(result.error());
        return true;
    }
    return false;
}

}  // namespace ui
