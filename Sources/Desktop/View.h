// The declarative view tree our windows show: stacks, text, buttons, text fields and a few
// shapes, with font, colour, padding and frame. Views are functions from state to a ui::Node;
// a HostingView rebuilds its tree after its observed objects announce, lays it out with a small
// deterministic metric, renders it as text and lets a test or script press its controls.
// Main thread only. A window owns its hosting view.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Desktop/Geometry.h"
#include "Desktop/Observable.h"

namespace ui {

using desktop::Point;
using desktop::Rect;
using desktop::Size;

inline constexpr double kUnbounded = std::numeric_limits<double>::infinity();

enum class TextStyle { body, headline, callout, caption, caption2, title3, system };
enum class Weight { regular, medium, semibold, bold };

struct Font {
    TextStyle style = TextStyle::body;
    double size = 0;  // system fonts only
    Weight weight = Weight::regular;

    static Font body() { return {}; }
    static Font headline() { return {TextStyle::headline, 0, Weight::semibold}; }
    static Font callout() { return {TextStyle::callout}; }
    static Font caption() { return {TextStyle::caption}; }
    static Font caption2() { return {TextStyle::caption2}; }
    static Font title3() { return {TextStyle::title3}; }
    static Font system(double size, Weight weight = Weight::regular) {
        return {TextStyle::system, size, weight};
    }
    Font weighted(Weight w) const { return {style, size, w}; }

    double pointSize() const;
    double lineHeight() const;
    std::string describe() const;
    bool operator==(const Font&) const = default;
};

struct Rgb {
    double red = 0, green = 0, blue = 0, opacity = 1;
    bool operator==(const Rgb&) const = default;
};

struct Color {
    enum class Kind {
        primary, secondary, tertiary, accent, red, orange, blue, green, white, clear,
        controlBackground, srgb
    };
    Kind kind = Kind::primary;
    Rgb rgb;  // srgb only

    static Color primary() { return {Kind::primary, {}}; }
    static Color secondary() { return {Kind::secondary, {}}; }
    static Color tertiary() { return {Kind::tertiary, {}}; }
    static Color accent() { return {Kind::accent, {}}; }
    static Color red() { return {Kind::red, {}}; }
    static Color orange() { return {Kind::orange, {}}; }
    static Color blue() { return {Kind::blue, {}}; }
    static Color green() { return {Kind::green, {}}; }
    static Color white() { return {Kind::white, {}}; }
    static Color clear() { return {Kind::clear, {}}; }
    static Color controlBackground() { return {Kind::controlBackground, {}}; }
    static Color srgb(double r, double g, double b, double opacity = 1) {
        return {Kind::srgb, {r, g, b, opacity}};
    }
    std::string describe() const;
    bool operator==(const Color&) const = default;
};

// From the top-leading to the bottom-trailing corner.
struct Gradient {
    std::vector<Rgb> stops;
    std::string describe() const;
    bool operator==(const Gradient&) const = default;
};

using Fill = std::variant<Color, Gradient>;

enum class HAlign { leading, center, trailing };
enum class VAlign { top, center, bottom };
enum class ButtonStyle { automatic, plain, bordered, borderedProminent };
enum class ControlSize { mini, small, regular, large };
enum class ProgressSize { mini, small, regular };

struct Insets {
    double top = 0, leading = 0, bottom = 0, trailing = 0;
    static Insets all(double v) { return {v, v, v, v}; }
    bool operator==(const Insets&) const = default;
};

// Reads and writes one model string for a text field.
struct Binding {
    std::function<std::string()> get;
    std::function<void(std::string)> set;
};

class Node {
public:
    enum class Kind {
        empty, vstack, hstack, zstack, text, button, textField, divider, spacer, scroll,
        progress, symbol, circle
    };

    Kind kind = Kind::empty;
    std::vector<Node> children;

    // Stacks.
    HAlign hAlign = HAlign::center;
    VAlign vAlign = VAlign::center;
    double spacing = 0;
    // Text, button title, symbol name or text-field placeholder.
    std::string text;
    std::string symbol;  // a button's symbol label
    std::optional<Font> font;
    std::optional<Color> foreground;
    std::optional<Fill> fill;
    bool selectable = false;
    // Controls.
    ButtonStyle buttonStyle = ButtonStyle::automatic;
    ControlSize controlSize = ControlSize::regular;
    std::optional<std::string> tooltip;
    bool enabled = true;
    bool isDefaultAction = false;
    std::function<void()> action;  // button press; text field submit
    Binding binding;
    ProgressSize progressSize = ProgressSize::regular;
    bool showsIndicators = true;
    // Modifiers, applied in this order: padding, then frame, then background.
    Insets padding;
    std::optional<double> width;
    std::optional<double> height;
    std::optional<double> maxHeight;
    HAlign frameAlign = HAlign::center;
    std::optional<Color> background;
    double cornerRadius = 0;
    std::optional<std::string> identity;

    // Modifiers; padding after a frame wraps the node, as the modifier order says.
    Node&& withFont(Font f) && { font = f; return std::move(*this); }
    Node&& foregroundColor(Color c) && { foreground = c; return std::move(*this); }
    Node&& filled(Fill f) && { fill = std::move(f); return std::move(*this); }
    Node&& padded(Insets insets) &&;
    Node&& padded(double all) && { return std::move(*this).padded(Insets::all(all)); }
    Node&& frame(std::optional<double> w, std::optional<double> h = std::nullopt,
                 HAlign align = HAlign::center) &&;
    Node&& frameMaxHeight(double h) && { maxHeight = h; return std::move(*this); }
    Node&& help(std::string text) && { tooltip = std::move(text); return std::move(*this); }
    Node&& disabled(bool isDisabled) && { enabled = enabled && !isDisabled; return std::move(*this); }
    Node&& style(ButtonStyle s) && { buttonStyle = s; return std::move(*this); }
    Node&& size(ControlSize s) && { controlSize = s; return std::move(*this); }
    Node&& defaultAction() && { isDefaultAction = true; return std::move(*this); }
    Node&& onSubmit(std::function<void()> submit) && { action = std::move(submit); return std::move(*this); }
    Node&& backgroundColor(Color c, double radius = 0) && {
        background = c;
        cornerRadius = radius;
        return std::move(*this);
    }
    Node&& textSelection() && { selectable = true; return std::move(*this); }
    Node&& id(std::string value) && { identity = std::move(value); return std::move(*this); }
    Node&& scrollIndicators(bool shown) && { showsIndicators = shown; return std::move(*this); }

    bool isControl() const { return kind == Kind::button || kind == Kind::textField; }
};

// Builders.
Node EmptyView();
Node VStack(HAlign align, double spacing, std::vector<Node> children);
Node HStack(VAlign align, double spacing, std::vector<Node> children);
Node ZStack(std::vector<Node> children);
Node Text(std::string text);
Node Button(std::string title, std::function<void()> action);
// A button drawn as a symbol; the title names it for finding and for assistive reading.
Node SymbolButton(std::string symbol, std::string title, std::function<void()> action);
// A view that acts on a single click, drawn as `label` (a plain button with custom content).
Node TapArea(Node label, std::function<void()> action);
Node TextField(std::string placeholder, Binding binding);
Node Divider();
Node Spacer();
Node ScrollView(Node content);
Node ProgressView(ProgressSize size);
Node Image(std::string systemSymbol);
Node Circle();

// A node placed in view coordinates (origin top-left, y downwards); `clip` is the part of the
// view through which it can be seen (a scroll area shows only its own frame).
struct PlacedNode {
    const Node* node;
    Rect frame;
    Rect clip;
};

// Layout of a tree at a proposed width (kUnbounded: its natural width).
Size measure(const Node& node, double proposedWidth = kUnbounded);
// Every node with its frame, in tree order; scroll areas are at their top.
std::vector<PlacedNode> place(const Node& root, Size size);
// The tree as indented lines of text, one per visible element. Laid out at `size`, a scroll area
// also marks where it cuts its content off and how many rows it hides.
std::string render(const Node& root, std::optional<Size> size = std::nullopt);
// Every text node's text, before wrapping, in tree order.
std::vector<std::string> texts(const Node& root);

struct ControlError {
    std::string message;
    // Nothing matched, as opposed to a match that cannot be used.
    bool notFound = false;
};
using ControlResult = std::expected<void, ControlError>;

// Hosts a view tree: rebuilds it from `body` after any observed object announced a change.
// A real window that renders the tree listens for those announcements and may measure the tree
// with its toolkit in place of the deterministic metric.
class HostingView {
public:
    using Body = std::function<Node()>;
    // The size of the current tree laid out at a proposed width (kUnbounded: its own width).
    using Measure = std::function<Size(double width)>;
    HostingView(Body body, std::vector<desktop::Observable*> observed);
    HostingView(const HostingView&) = delete;
    HostingView& operator=(const HostingView&) = delete;

    // The current tree, rebuilt first when something it shows may have changed.
    const Node& root();
    // The tree's size when laid out at `width` (kUnbounded: at its own width).
    Size fittingSize(double width = kUnbounded);
    std::string render(std::optional<Size> size = std::nullopt);
    std::vector<std::string> texts();
    // Rebuilds now; the next read rebuilds anyway after an announcement.
    void invalidate() { ++*changes_; }
    // Told when an observed object is about to change what the tree shows.
    [[nodiscard]] desktop::Subscription observeChanges(std::function<void()> willChange) {
        return changed_->connect(std::move(willChange));
    }
    // Replaces the deterministic metric of fittingSize; none restores it.
    void setMeasure(Measure measure) { measure_ = std::move(measure); }

    // The first enabled-or-not control in tree order titled `title`, else with that tooltip,
    // else a text field with that placeholder (which it focuses). Disabled is an error.
    ControlResult press(std::string_view title);
    // Replaces the text of the field with `placeholder` ("*": the first text field).
    ControlResult fill(std::string_view placeholder, std::string text);
    // Presses Return in that field.
    ControlResult submit(std::string_view placeholder);
    // A click at a point in view coordinates (origin top-left): presses the control under it,
    // answers whether there was one.
    std::expected<bool, ControlError> clickAt(Point point, Size viewSize);
    // The text field that a placeholder press focused, if any.
    std::optional<std::string> focusedField() const { return focused_; }

private:
    const Node* findField(std::string_view placeholder);

    Body body_;
    std::vector<desktop::Subscription> subscriptions_;
    std::shared_ptr<uint64_t> changes_ = std::make_shared<uint64_t>(1);
    std::shared_ptr<desktop::Signal<>> changed_ = std::make_shared<desktop::Signal<>>();
    Measure measure_;
    uint64_t builtAt_ = 0;
    Node root_;
    std::optional<std::string> focused_;
};

}  // namespace ui
