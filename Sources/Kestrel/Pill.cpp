#include "Kestrel/Pill.h"

#include <algorithm>

#include "Desktop/Desktop.h"
#include "Kestrel/AX.h"
#include "Kestrel/Draft.h"

namespace kestrel {

using namespace ui;

namespace {

desktop::WindowConfig pillConfig() {
    using namespace desktop;
    WindowConfig config;
    config.kind = WindowKind::panel;
    config.contentRect = makeRect(0, 0, PillView::kSide, PillView::kSide);
    config.style = windowstyle::borderless | windowstyle::nonactivatingPanel;
    config.opaque = false;
    config.backgroundColor = "clear";
    config.hasShadow = true;
    config.level = WindowLevel::floating;
    config.floatingPanel = true;
    config.hidesOnDeactivate = false;
    config.becomesKeyOnlyIfNeeded = true;
    config.releasedWhenClosed = false;
    config.ignoresMouseEvents = false;
    config.collectionBehavior = windowcollection::canJoinAllSpaces | windowcollection::transient |
                                windowcollection::fullScreenAuxiliary;
    return config;
}

std::string plural(size_t n, const char* noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

}  // namespace

Fill PillView::fill() const {
    if (state->unreadable()) return Color::srgb(0.45, 0.47, 0.5);
    if (!state->risks().empty()) return Color::srgb(0.86, 0.25, 0.25);
    if (!state->findings().empty()) return Color::srgb(0.93, 0.62, 0.12);
    return Gradient{{{0.11, 0.39, 0.92}, {0.45, 0.41, 0.78}, {0.80, 0.43, 0.64}}};
}

std::string PillView::help() const {
    if (state->unreadable()) return "Kestrel cannot see the text in this box";
    size_t risks = state->risks().size();
    size_t findings = state->findings().size();
    if (risks > 0) return plural(risks, "thing") + " to fix before sending";
    if (findings > 0) return plural(findings - risks, "note");
    return "Kestrel \u00B7 looks fine";
}

Node PillView::body() const {
    size_t risks = state->risks().size();
    size_t findings = state->findings().size();
    Node content = state->unreadable() ? Image("eye.slash")
                   : risks > 0         ? Text(std::to_string(risks))
                   : findings > 0 ? Text(std::to_string(findings - risks))
                   : state->aiPending() ? ProgressView(ProgressSize::mini)
                                        : Image("checkmark");
    content.font = Font::system(12, Weight::bold);
    content.foreground = Color::white();
    return TapArea(ZStack({Circle().filled(fill()).frame(kSide, kSide), std::move(content)}), tap)
        .frame(kSide, kSide)
        .help(help());
}

PillController::PillController(std::shared_ptr<DraftState> state, std::function<void()> onClick)
    : window_(desktop::current().windows().makeWindow(pillConfig())),
      state_(std::move(state)),
      onClick_(std::move(onClick)) {
    PillView view{state_, onClick_};
    host_ = std::make_shared<HostingView>([view] { return view.body(); },
                                          std::vector<desktop::Observable*>{state_.get()});
    window_->setContent(host_);
}

void PillController::start() {
    if (timer_.isValid()) return;
    timer_ = desktop::current().runLoop().schedule(kInterval, desktop::Repeat::yes,
                                                   [weak = weak_from_this()] {
                                                       if (auto self = weak.lock()) self->tick();
                                                   });
}

void PillController::hide() {
    if (window_->isVisible()) window_->orderOut();
}

void PillController::tick() {
    auto& desk = desktop::current();
    if (!desk.accessibility().isTrusted() || !state_->app() || !state_->element()) return hide();
    auto field = AX::frame(*state_->element());
    if (!field || field->width() <= kMinFieldWidth) return hide();

    double x = field->minX() - PillView::kSide - kGap;
    auto screen = desktop::screenIntersecting(desk.screens().screens(), *field);
    if (!screen) screen = desk.screens().mainScreen();
    // No room left of the field: the pill goes just inside it.
    if (screen && x < screen->visibleFrame.minX()) x = field->minX() + kInset;
    double y = field->maxY() - PillView::kSide - kInset;
    // A field partly or wholly off every screen keeps its pill on one.
    if (screen) {
        const desktop::Rect& v = screen->visibleFrame;
        x = std::clamp(x, v.minX(), v.maxX() - PillView::kSide);
        y = std::clamp(y, v.minY(), v.maxY() - PillView::kSide);
    }

    if (window_->frame().origin != desktop::Point{x, y}) window_->setFrameOrigin({x, y});
    if (!window_->isVisible()) window_->orderFront();
}

}  // namespace kestrel
