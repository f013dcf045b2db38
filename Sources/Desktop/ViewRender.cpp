#include "Desktop/View.h"

#include <algorithm>
#include <unordered_map>

#include "Desktop/ViewMetrics.h"

namespace ui {

using namespace metrics;

// A view tree as indented text lines, for tests, scripts and the console.

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

}  // namespace ui
