#include "Desktop/Desktop.h"
#include "Kestrel/AX.h"
#include "Kestrel/Draft.h"

namespace kestrel {

FocusWatcher::FocusWatcher(std::shared_ptr<DraftState> state, std::shared_ptr<Engine> engine,
                           std::shared_ptr<KestrelAPI> api)
    : state_(std::move(state)), engine_(std::move(engine)), api_(std::move(api)) {}

void FocusWatcher::start() {
    if (timer_.isValid()) return;
    timer_ = desktop::current().runLoop().schedule(
        kPollInterval, desktop::Repeat::yes, [weak = weak_from_this()] {
            auto self = weak.lock();
            if (self && desktop::current().accessibility().isTrusted()) self->refresh();
        });
}

LocalResult FocusWatcher::refresh() {
    auto& desktop = desktop::current();
    // One query serves both looks at the front app: nothing can change it in between.
    auto front = desktop.workspace().frontmostApplication();
    if (front) {
        auto own = desktop.bundle().identifier();
        auto ownID = own.empty() ? std::nullopt : std::optional(own);
        // Our own panel or window in front: keep the draft the person is reviewing.
        if (front->bundleID == ownID) return state_->local();
    }
    auto app = front ? SupportedApp::forApplication(*front) : std::nullopt;
    if (!app || Prefs::isMuted(app->bundleID)) return noSupportedApp();
    armElectron(*app, front->pid);
    return readField(*app, front->pid);
}

void FocusWatcher::armElectron(const SupportedApp& app, int32_t pid) {
    if (!app.electron || electronArmed_.contains(pid)) return;
    auto& accessibility = desktop::current().accessibility();
    // Without trust the write cannot reach the app; marking it armed then would leave it unread
    // for the rest of the run once trust is granted.
    if (!accessibility.isTrusted()) return;
    // Otherwise the result does not matter: an app that refuses is not asked again.
    accessibility.setAttribute(accessibility.applicationElement(pid), AX::kManualAccessibility, true);
    electronArmed_.insert(pid);
}

LocalResult FocusWatcher::readField(const SupportedApp& app, int32_t pid) {
    auto application = desktop::current().accessibility().applicationElement(pid);
    auto focused = AX::element(application, AX::kFocusedUIElement);
    if (!focused) return noEditableField(app);
    auto role = AX::attribute(*focused, AX::kRole);
    if (!role || !AX::editableRoles().contains(*role)) return noEditableField(app);

    auto text = AX::attribute(*focused, AX::kValue).value_or("");
    state_->setApp(app);
    state_->setElement(focused);
    state_->setPid(pid);
    if (text != state_->text()) {
        state_->setText(text);
        state_->setLocal(engine_->check(text, app.channel));
        state_->setAi(std::nullopt);
        std::set<std::string> stillFound;
        for (const auto& finding : state_->local().findings) {
            if (state_->ignored().contains(finding.key())) stillFound.insert(finding.key());
        }
        state_->setIgnored(std::move(stillFound));
        scheduleAI(app);
    }
    return state_->local();
}

LocalResult FocusWatcher::noEditableField(const SupportedApp& app) {
    const auto& current = state_->app();
    if (!current || *current != app || !state_->text().empty()) {
        state_->clear();
        state_->setApp(app);
    }
    return LocalResult::empty;
}

LocalResult FocusWatcher::noSupportedApp() {
    if (state_->app()) state_->clear();
    return LocalResult::empty;
}

}  // namespace kestrel
