#include "Desktop/Desktop.h"
#include "Kestrel/API.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/Draft.h"

namespace kestrel {

namespace {
nlohmann::json aiCheckRanProperties(const SupportedApp& app, const std::string& depth,
                                    const ScoreResult& result) {
    auto rules = nlohmann::json::array();
    int64_t risks = 0;
    for (const auto& finding : result.findings.value_or(std::vector<Finding>{})) {
        rules.push_back(finding.id);
        if (finding.level == "risk") ++risks;
    }
    return {{"platform", app.name},
            {"depth", depth},
            {"via", "backend"},
            {"findings", rules.size()},
            {"risks", risks},
            {"rules", rules},
            {"ai_limited", result.aiLimited.value_or(false)}};
}
}  // namespace

void FocusWatcher::scheduleAI(const SupportedApp& app) {
    aiTimer_.invalidate();
    if (api_->token() && engine_->channelInfo(app.channel).ai == kDepthLive &&
        state_->wordCount() >= kMinAIWords) {
        state_->setAiPending(true);
        aiTimer_ = desktop::current().runLoop().schedule(
            kAIDebounce, desktop::Repeat::no, [weak = weak_from_this()] {
                if (auto self = weak.lock()) self->runAI(kDepthLive);
            });
        return;
    }
    state_->setAiPending(false);
}

void FocusWatcher::runAI(const std::string& depth, AICompletion completion) {
    auto text = state_->text();
    auto app = state_->app();
    if (!app || !api_->token() || text.empty()) {
        if (completion) completion(std::nullopt);
        return;
    }
    if (depth == kDepthLive && text == lastAiText_ && state_->ai()) {
        if (completion) completion(state_->ai());
        return;
    }
    lastAiText_ = text;
    state_->setAiPending(true);
    // Held strongly: the completion is owed exactly once even if the watcher were dropped.
    api_->score(text, app->name, depth,
                [self = shared_from_this(), text, app = *app, depth,
                 completion = std::move(completion)](APIResult<ScoreResult> answer) {
                    std::optional<ScoreResult> result;
                    if (answer) result = std::move(*answer);
                    // A result for text that has since changed belongs to nobody's draft.
                    if (self->state_->text() == text) {
                        self->state_->setAi(result);
                        self->state_->setAiPending(false);
                    }
                    if (result) Analytics::track("AI Check Ran", aiCheckRanProperties(app, depth, *result));
                    if (completion) completion(std::move(result));
                });
}

}  // namespace kestrel
