// The review panel's actions that go through the backend: rewriting the draft, applying or
// copying the rewrite, and adding a custom check.
#include "Desktop/Desktop.h"
#include "Desktop/Pasteboard.h"
#include "Desktop/Unicode.h"
#include "Kestrel/API.h"
#include "Kestrel/AX.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/Draft.h"
#include "Kestrel/Panel.h"

namespace kestrel {

void PanelController::rewrite(const std::string& mode) {
    const auto app = state_->app();
    if (!app || !api_->token() || state_->text().empty()) return;
    model_->setRewriteBusy(true);
    model_->setNotice(std::nullopt);
    Analytics::track("Rewrite Requested", {{"platform", platform()}, {"kind", mode}, {"via", "backend"}});
    // The request keeps the controller alive until its answer is in.
    api_->rewrite(state_->text(), app->name, mode, [self = shared_from_this()](APIResult<std::string> result) {
        if (result.has_value()) {
            self->model_->setRewrite(std::move(*result));
        } else {
            self->model_->setNotice(result.error().localizedDescription());
        }
        self->model_->setRewriteBusy(false);
    });
}

void PanelController::applyRewrite() {
    const auto rewritten = model_->rewrite();
    const auto& element = state_->element();
    if (!rewritten || !element) return;
    if (desktop::current().accessibility().setAttribute(*element, AX::kValue, *rewritten) ==
        desktop::AXError::success) {
        Analytics::track("Rewrite Applied", {{"platform", platform()}, {"via", "accessibility"}});
        model_->setRewrite(std::nullopt);
        model_->setNotice("Replaced.");
        watcher_->refresh();
        return;
    }
    copyRewrite();
    model_->setNotice("This app would not accept the text. It is on your clipboard — select all and paste.");
}

void PanelController::copyRewrite() {
    const auto rewritten = model_->rewrite();
    if (!rewritten) return;
    auto& pasteboard = desktop::current().pasteboard();
    pasteboard.clearContents();
    pasteboard.setString(*rewritten);
    Analytics::track("Rewrite Applied", {{"platform", platform()}, {"via", "clipboard"}});
    if (!model_->notice()) model_->setNotice("Copied.");
}

void PanelController::addRule() {
    std::string prompt = desktop::unicode::trimWhitespace(model_->addRuleText());
    if (prompt.empty() || model_->addRuleBusy()) return;
    if (!api_->token()) {
        model_->setAddRuleNote(KestrelAPI::kSignInToAddChecks);
        return;
    }
    model_->setAddRuleBusy(true);
    model_->setAddRuleNote("Adding…");
    api_->createRule(prompt, [self = shared_from_this()](APIResult<EmptyResponse> result) {
        auto& model = *self->model_;
        if (!result.has_value()) {
            model.setAddRuleNote(result.error().localizedDescription());
            model.setAddRuleBusy(false);
            return;
        }
        model.setAddRuleText("");
        model.setAddRuleNote("Added. It runs from the next check.");
        model.setAddRuleBusy(false);
        Analytics::track("Rule Added", {{"from", "panel"}, {"platform", self->platform()}, {"level", "warn"}});
        // The new check counts from now: forget the last AI answer and ask again.
        self->watcher_->setLastAiText("");
        self->state_->setAi(std::nullopt);
        if (self->state_->app()) self->watcher_->runAI(FocusWatcher::kDepthLive);
    });
}

}  // namespace kestrel
