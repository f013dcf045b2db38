#include "Desktop/View.h"

#include <cmath>
#include <cstdio>

#include "Desktop/Unicode.h"
#include "Desktop/ViewMetrics.h"

namespace ui {

// ---- Metrics -------------------------------------------------------------------------------
// Each text style has its platform line height.

namespace metrics {

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

}  // namespace metrics

namespace {
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

}  // namespace ui
