#include "Desktop/View.h"

#include "Desktop/Desktop.h"

#include "Desktop/ViewMetrics.h"

namespace ui {

using namespace metrics;

// A hosting view: rebuilds its tree when what it observes changes, and finds and presses controls.

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
