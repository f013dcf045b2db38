#include <algorithm>

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
    auto app = front ? supportedApp(*front) : std::nullopt;
    if (!app) return noSupportedApp();
    armElectron(*app, front->pid);
    return readField(*app, front->pid);
}

std::optional<SupportedApp> FocusWatcher::supportedApp(const desktop::RunningApplication& front) {
    auto app = SupportedApp::forApplication(front);
    if (!app && SupportedApp::isBrowser(front)) {
        auto& accessibility = desktop::current().accessibility();
        auto focused = AX::element(accessibility.applicationElement(front.pid), AX::kFocusedUIElement);
        auto address = focused ? AX::attribute(*focused, AX::kURL) : std::nullopt;
        if (address) app = SupportedApp::forPage(*address);
        if (!focused && accessibility.isTrusted() && toldUnreadable_.insert(front.pid).second) {
            desktop::current().log().write(
                "Kestrel: the browser with process id " + std::to_string(front.pid) +
                " shows no page to Kestrel, so its web mail and chat are not checked: start it after "
                "accessibility was switched on (or with --force-renderer-accessibility)");
        }
    }
    if (!app || Prefs::isMuted(app->bundleID)) return std::nullopt;
    return app;
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

namespace {
size_t characterCount(const std::string& text) {
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}
}  // namespace

LocalResult FocusWatcher::readField(const SupportedApp& app, int32_t pid) {
    auto& accessibility = desktop::current().accessibility();
    auto focused = AX::element(accessibility.applicationElement(pid), AX::kFocusedUIElement);
    if (!focused) return noEditableField(app);
    auto role = AX::attribute(*focused, AX::kRole);
    if (!role || !AX::editableRoles().contains(*role)) return noEditableField(app);

    // In a mail composer a Send from the To, Cc or Subject line sends the body.
    auto box = *focused;
    std::optional<std::string> field;
    if (app.channel == "email" && *role == "AXTextField") {
        if (auto body = AX::element(*focused, AX::kComposerBody)) {
            field = AX::attribute(*focused, AX::kValue);
            box = *body;
        }
    }
    auto value = accessibility.copyAttribute(box, AX::kValue);
    if (!value) return unreadableField(app, box, pid);
    auto* read = std::get_if<std::string>(&*value);
    std::string text = read ? std::move(*read) : std::string();
    auto length = AX::number(box, AX::kNumberOfCharacters);
    bool cutOff = length && *length > static_cast<double>(characterCount(text));

    // The same text in another app is judged again: the rules and their weight follow the channel.
    bool judged = state_->app() == app && text == state_->text() && field == lastField_ && cutOff == lastCutOff_;
    state_->setApp(app);
    state_->setElement(box);
    state_->setPid(pid);
    if (state_->unreadable()) state_->setUnreadable(false);
    if (!judged) {
        state_->setText(text);
        state_->setLocal(check(app, text, cutOff, field));
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

LocalResult FocusWatcher::check(const SupportedApp& app, const std::string& text, bool cutOff,
                                const std::optional<std::string>& field) {
    lastField_ = field;
    lastCutOff_ = cutOff;
    // Part of a draft judged as the whole would pass what lies beyond it.
    auto local = cutOff ? Engine::unchecked() : engine_->check(text, app.channel);
    if (!field || field->empty()) return local;
    for (auto finding : engine_->check(*field, app.channel).findings) {
        if (finding.level != "risk") continue;
        // The field cannot be written back: no fix is offered for it.
        finding.suggestion.reset();
        finding.detail = "In the line you are typing in, not the message body. " + finding.detail.value_or("");
        local.findings.push_back(std::move(finding));
    }
    return local;
}

LocalResult FocusWatcher::unreadableField(const SupportedApp& app, const desktop::Element& box, int32_t pid) {
    if (!state_->unreadable() || state_->app() != app) {
        state_->clear();
        state_->setApp(app);
        state_->setUnreadable(true);
    }
    state_->setElement(box);
    state_->setPid(pid);
    lastField_.reset();
    if (toldUnreadable_.insert(pid).second) {
        desktop::current().log().write("Kestrel: cannot read the text of the compose box in " + app.label +
                                       " (process id " + std::to_string(pid) +
                                       "): its drafts are not checked there");
    }
    return LocalResult::empty;
}

LocalResult FocusWatcher::noEditableField(const SupportedApp& app) {
    const auto& current = state_->app();
    if (!current || *current != app || !state_->text().empty() || state_->unreadable()) {
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
