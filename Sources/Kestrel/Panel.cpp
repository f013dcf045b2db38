#include "Kestrel/Panel.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <utility>

#include "Desktop/Desktop.h"
#include "Desktop/Pasteboard.h"
#include "Kestrel/API.h"
#include "Kestrel/AX.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/Draft.h"
#include "Kestrel/SendGate.h"

namespace kestrel {

namespace {

desktop::WindowConfig panelConfig() {
    using namespace desktop;
    WindowConfig config;
    config.kind = WindowKind::panel;
    config.contentRect = makeRect(0, 0, PanelView::kWidth, 440);
    config.style = windowstyle::titled | windowstyle::closable | windowstyle::utilityWindow |
                   windowstyle::nonactivatingPanel | windowstyle::fullSizeContentView;
    config.titleHidden = true;
    config.titlebarTransparent = true;
    config.movableByWindowBackground = true;
    config.level = WindowLevel::floating;
    config.floatingPanel = true;
    config.hidesOnDeactivate = false;
    config.becomesKeyOnlyIfNeeded = true;
    config.releasedWhenClosed = false;
    config.collectionBehavior = windowcollection::canJoinAllSpaces | windowcollection::fullScreenAuxiliary;
    config.appearance = Appearance::aqua;
    config.backgroundColor = "white";
    return config;
}

}  // namespace

std::vector<size_t> occurrences(const std::string& text, const std::string& original) {
    std::vector<size_t> found;
    if (original.empty()) return found;
    for (size_t at = text.find(original); at != std::string::npos;
         at = text.find(original, at + original.size())) {
        found.push_back(at);
    }
    return found;
}

// ---- Construction --------------------------------------------------------------------------

std::shared_ptr<PanelController> PanelController::create(std::shared_ptr<DraftState> state,
                                                         std::shared_ptr<SendGate> gate,
                                                         std::shared_ptr<FocusWatcher> watcher,
                                                         std::shared_ptr<KestrelAPI> api) {
    std::shared_ptr<PanelController> controller(
        new PanelController(std::move(state), std::move(gate), std::move(watcher), std::move(api)));
    controller->setUp();
    return controller;
}

PanelController::PanelController(std::shared_ptr<DraftState> state, std::shared_ptr<SendGate> gate,
                                 std::shared_ptr<FocusWatcher> watcher, std::shared_ptr<KestrelAPI> api)
    : model_(std::make_shared<PanelModel>()),
      panel_(desktop::current().windows().makeWindow(panelConfig())),
      state_(std::move(state)),
      gate_(std::move(gate)),
      watcher_(std::move(watcher)),
      api_(std::move(api)) {}

void PanelController::setUp() {
    actions_ = makeActions();
    PanelView view{state_, model_, api_, actions_};
    host_ = std::make_shared<ui::HostingView>([view] { return view.body(); },
                                              std::vector<desktop::Observable*>{state_.get(), model_.get(), api_.get()});
    panel_->setContent(host_);
    // The title bar's close button is one more way out, and must drop a held send like the rest.
    panel_->setCloseHandler([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->hide();
    });

    // The announcement comes before the change, so the re-fit waits for the main queue.
    auto scheduleRefit = [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->placedFresh_ = false;
        if (std::exchange(self->refitQueued_, true)) return;
        desktop::current().runLoop().async([weak] {
            auto self = weak.lock();
            if (self && std::exchange(self->refitQueued_, false)) self->refit();
        });
    };
    observers_.push_back(state_->observe([weak = weak_from_this(), scheduleRefit] {
        if (auto self = weak.lock()) self->draftChanged_ = true;
        scheduleRefit();
    }));
    observers_.push_back(model_->observe(scheduleRefit));
}

PanelActions PanelController::makeActions() {
    auto weak = weak_from_this();
    auto call = [weak](void (PanelController::*method)()) {
        return [weak, method] {
            if (auto self = weak.lock()) (self.get()->*method)();
        };
    };
    auto callWith = [weak](void (PanelController::*method)(const Finding&)) {
        return [weak, method](const Finding& finding) {
            if (auto self = weak.lock()) (self.get()->*method)(finding);
        };
    };
    PanelActions actions;
    actions.goBack = call(&PanelController::goBack);
    actions.sendAnyway = call(&PanelController::sendAnyway);
    actions.dismiss = callWith(&PanelController::dismiss);
    actions.dismissAll = call(&PanelController::dismissAll);
    actions.addRule = call(&PanelController::addRule);
    actions.fix = callWith(&PanelController::fix);
    actions.muteRule = callWith(&PanelController::muteRule);
    actions.rewrite = [weak](const std::string& mode) {
        if (auto self = weak.lock()) self->rewrite(mode);
    };
    actions.applyRewrite = call(&PanelController::applyRewrite);
    actions.copyRewrite = call(&PanelController::copyRewrite);
    actions.signIn = [weak] {
        if (auto self = weak.lock(); self && self->openSignIn_) self->openSignIn_();
    };
    // Needs nothing of the controller, so it works even after it is gone.
    actions.upgrade = [] { desktop::current().workspace().open(Config::dashboard().text + "#billing"); };
    actions.close = call(&PanelController::hide);
    return actions;
}

std::string PanelController::platform() const { return state_->app() ? state_->app()->name : ""; }

// ---- Opening, closing, fitting and placing ---------------------------------------------------

void PanelController::orderFront() {
    model_->setShown(true);
    placement_.reset();
    resize();
    position();
    placedFresh_ = true;
    panel_->orderFront();
    watchForClickAway();
}

void PanelController::showGate() {
    model_->setGating(true);
    model_->setRewrite(std::nullopt);
    orderFront();
}

void PanelController::show(const std::string& source) {
    watcher_->refresh();
    model_->setGating(false);
    model_->setRewrite(std::nullopt);
    Analytics::track("Panel Opened",
                     {{"from", source}, {"platform", state_->app() ? state_->app()->name : "none"}});
    orderFront();
}

void PanelController::hide() {
    if (model_->gating()) dropHeldSend();
    model_->setGating(false);
    panel_->orderOut();
    model_->setShown(false);
}

void PanelController::refit() {
    // Hidden, it is sized ahead for its next show.
    if (!panel_->isVisible()) return resize();
    // A held send whose composer closed has nowhere left to go. Only a change of the draft can
    // tell, so the panel's own changes ask the app nothing.
    if ((!state_->app() && !model_->gating()) || (model_->gating() && draftChanged_ && gate_->heldDraftGone())) {
        hide();
        return;
    }
    if (std::exchange(placedFresh_, false)) return;
    resize();
    position();
}

void PanelController::resize() {
    desktop::Rect frame = panel_->frame();
    double chrome = frame.height() - panel_->contentLayoutRect().height();
    double target = chrome + std::ceil(host_->fittingSize().height);
    if (std::abs(frame.height() - target) <= kResizeThreshold) return;
    // The top edge stays where it was.
    panel_->setFrame(desktop::makeRect(frame.minX(), frame.minY() + frame.height() - target,
                                       frame.width(), target));
}

void PanelController::position() {
    auto& screens = desktop::current().screens();
    const auto all = screens.screens();
    const double w = panel_->frame().width();
    const double h = panel_->frame().height();
    auto boxFrame = [this]() -> std::optional<desktop::Rect> {
        if (!state_->element()) return std::nullopt;
        return AX::frame(*state_->element());
    };

    double x = 0, y = 0;
    // The watcher's every poll announces the draft: only then may the box have moved. A change of
    // the panel's own keeps the box it was placed beside.
    auto box = placement_ && !draftChanged_ ? std::optional(placement_->box) : boxFrame();
    draftChanged_ = false;
    if (box && box->width() > 0) {
        auto screen = desktop::screenIntersecting(all, *box);
        double top = screen ? screen->visibleFrame.maxY() : std::numeric_limits<double>::max();
        x = box->minX();
        y = box->maxY() + kGapAbove;
        // A refit after Fix or Ignore changes the height: the panel stays on the side it was
        // put for this box instead of jumping to the other one.
        bool sameBox = placement_ && placement_->box.minX() == box->minX() && placement_->box.maxY() == box->maxY();
        bool beside = (sameBox && placement_->beside) || y + h > top;
        if (beside) {
            x = box->maxX() + kGapBeside;
            y = box->maxY() - h;
        }
        placement_ = Placement{*box, beside};
    } else {
        desktop::Point mouse = screens.mouseLocation();
        x = mouse.x + kPointerOffset;
        y = mouse.y - h;
    }

    auto screen = desktop::screenContaining(all, {x, y});
    if (!screen) screen = screens.mainScreen();
    if (!screen) {
        panel_->setFrameOrigin({x, y});
        return;
    }
    const desktop::Rect& v = screen->visibleFrame;
    if (x + w > v.maxX()) x = std::max(v.minX(), (box ? box->minX() : v.maxX()) - w - kGapBeside);
    x = std::min(v.maxX() - w, std::max(x, v.minX()));
    y = std::min(v.maxY() - h, std::max(y, v.minY()));
    panel_->setFrameOrigin({x, y});
}

void PanelController::watchForClickAway() {
    if (clickAway_) return;
    clickAway_ = desktop::current().windows().addGlobalMouseDownMonitor(
        [weak = weak_from_this()](const desktop::MouseEvent&) {
            auto self = weak.lock();
            if (!self || !self->panel_->isVisible() || self->model_->gating()) return;
            if (self->panel_->frame().contains(desktop::current().screens().mouseLocation())) return;
            self->hide();
        });
}

// ---- Gate actions --------------------------------------------------------------------------

void PanelController::goBack() {
    Analytics::track("Send Reviewed", {{"platform", platform()}, {"reason", "went_back"}});
    hide();
}

void PanelController::dropHeldSend() { gate_->dropPending(); }

void PanelController::sendAnyway() {
    auto risks = state_->risks();
    std::vector<std::string> rules;
    for (const auto& risk : risks) rules.push_back(risk.id);
    // Not through hide(): the held send must survive to be replayed.
    model_->setGating(false);
    if (!gate_->release()) {
        // The person has moved to another app or field: the key press would send that instead.
        model_->setNotice(kDraftNotInFront);
        return;
    }
    Analytics::track("Send Anyway",
                     {{"platform", platform()}, {"risks", risks.size()}, {"rules", rules}});
    panel_->orderOut();
    model_->setShown(false);
}

void PanelController::dismiss(const Finding& finding) {
    auto ignored = state_->ignored();
    ignored.insert(finding.key());
    state_->setIgnored(std::move(ignored));
    Analytics::track("Finding Dismissed",
                     {{"platform", platform()}, {"rule", finding.id}, {"level", finding.level}});
    releaseIfClear();
}

void PanelController::dismissAll() {
    auto findings = state_->findings();
    std::vector<std::string> rules;
    for (const auto& finding : findings) {
        auto ignored = state_->ignored();
        ignored.insert(finding.key());
        state_->setIgnored(std::move(ignored));
        rules.push_back(finding.id);
    }
    Analytics::track("Findings Ignored", {{"platform", platform()}, {"rules", rules}});
    releaseIfClear();
}

void PanelController::fix(const Finding& finding) {
    const auto& element = state_->element();
    if (!element || !finding.original || !finding.suggestion) return;
    const std::string draft = state_->text();
    auto found = occurrences(draft, *finding.original);
    if (found.empty()) {
        dismiss(finding);
        return;
    }
    // Past the last occurrence means the last; below the first (never sent) means the first.
    auto wanted = static_cast<size_t>(std::max<int64_t>(0, finding.occurrence.value_or(0)));
    size_t at = found[std::min(wanted, found.size() - 1)];
    std::string fixed = draft;
    fixed.replace(at, finding.original->size(), *finding.suggestion);

    auto& ax = desktop::current().accessibility();
    if (ax.setAttribute(*element, AX::kValue, fixed) == desktop::AXError::success) {
        Analytics::track("Fix Applied",
                         {{"platform", platform()}, {"rule", finding.id}, {"via", "accessibility"}});
        model_->setNotice("Fixed.");
        watcher_->refresh();
        return;
    }
    auto& pasteboard = desktop::current().pasteboard();
    pasteboard.clearContents();
    pasteboard.setString(fixed);
    Analytics::track("Fix Applied", {{"platform", platform()}, {"rule", finding.id}, {"via", "clipboard"}});
    model_->setNotice(
        "This app would not accept the edit. The fixed text is on your clipboard — select all and paste.");
}

void PanelController::muteRule(const Finding& finding) {
    Prefs::setRule(finding.id, true);
    auto stored = Prefs::disabledRules();
    state_->setDisabledRules(std::set<std::string>(stored.begin(), stored.end()));
    const auto& names = Prefs::ruleNames();
    auto named = names.find(finding.id);
    std::string name = named != names.end() ? named->second : finding.title;
    // A finding may come without a title; the notice still has to say which rule went off.
    if (name.empty()) name = finding.id;
    model_->setNotice(name + " is off. Turn it back on from the menu bar icon.");
    Analytics::track("Rule Muted", {{"platform", platform()}, {"rule", finding.id}, {"level", finding.level}});
    releaseIfClear();
}

void PanelController::releaseIfClear() {
    if (!model_->gating() || !state_->risks().empty()) return;
    model_->setNotice("Nothing left to block. Press send again.");
    model_->setGating(false);
    dropHeldSend();
}

}  // namespace kestrel
