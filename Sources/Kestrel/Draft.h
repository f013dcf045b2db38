// The draft under the caret (DraftState) and the FocusWatcher that keeps it in step with the
// focused compose field by polling, re-checking it locally on every change and scheduling the
// AI check. Main thread only. The application delegate owns one of each for the whole run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Desktop/Accessibility.h"
#include "Desktop/Observable.h"
#include "Desktop/RunLoop.h"
#include "Kestrel/Config.h"
#include "Kestrel/Engine.h"

namespace kestrel {

class KestrelAPI;

// Every published setter announces, then assigns, also when the value is equal.
class DraftState : public desktop::Observable {
public:
    // Reads "disabledRules" once.
    DraftState();

    const std::optional<SupportedApp>& app() const { return app_; }
    void setApp(std::optional<SupportedApp> app) { publish(app_, std::move(app)); }
    const std::string& text() const { return text_; }
    void setText(std::string text) {
        publish(text_, std::move(text));
        words_.reset();
    }
    const LocalResult& local() const { return local_; }
    void setLocal(LocalResult local) { publish(local_, std::move(local)); }
    const std::optional<ScoreResult>& ai() const { return ai_; }
    void setAi(std::optional<ScoreResult> ai) { publish(ai_, std::move(ai)); }
    bool aiPending() const { return aiPending_; }
    void setAiPending(bool pending) { publish(aiPending_, pending); }
    // Finding keys dismissed for this draft.
    const std::set<std::string>& ignored() const { return ignored_; }
    void setIgnored(std::set<std::string> ignored) { publish(ignored_, std::move(ignored)); }
    // A compose box of the app is focused but its text cannot be read: nothing was checked.
    bool unreadable() const { return unreadable_; }
    void setUnreadable(bool unreadable) { publish(unreadable_, unreadable); }
    // Rule ids switched off on this Mac.
    const std::set<std::string>& disabledRules() const { return disabledRules_; }
    void setDisabledRules(std::set<std::string> rules) { publish(disabledRules_, std::move(rules)); }

    // Not published: where the text was read from, for writing fixes back.
    const std::optional<desktop::Element>& element() const { return element_; }
    void setElement(std::optional<desktop::Element> element) { element_ = std::move(element); }
    std::optional<int32_t> pid() const { return pid_; }
    void setPid(std::optional<int32_t> pid) { pid_ = pid; }

    // Local and AI findings without dismissed keys and disabled rules, merged to one per rule.
    std::vector<Finding> findings() const;
    // The findings at level "risk": a send is held only while this is not empty.
    std::vector<Finding> risks() const;
    // Maximal runs of non-whitespace characters (any Unicode whitespace).
    size_t wordCount() const;

    // Forgets the draft; disabledRules stays.
    void clear();

private:
    template <class T>
    void publish(T& field, T value) {
        announce();
        field = std::move(value);
    }

    std::optional<SupportedApp> app_;
    std::string text_;
    // Counted once per text: every build of the panel asks.
    mutable std::optional<size_t> words_;
    LocalResult local_ = LocalResult::empty;
    std::optional<ScoreResult> ai_;
    bool aiPending_ = false;
    std::set<std::string> ignored_;
    std::set<std::string> disabledRules_;
    bool unreadable_ = false;
    std::optional<desktop::Element> element_;
    std::optional<int32_t> pid_;
};

class FocusWatcher : public std::enable_shared_from_this<FocusWatcher> {
public:
    static constexpr double kPollInterval = 0.4;
    static constexpr double kAIDebounce = 1.5;
    static constexpr size_t kMinAIWords = 8;
    static constexpr const char* kDepthLive = "live";
    static constexpr const char* kDepthSend = "send";

    using AICompletion = std::function<void(std::optional<ScoreResult>)>;

    FocusWatcher(std::shared_ptr<DraftState> state, std::shared_ptr<Engine> engine,
                 std::shared_ptr<KestrelAPI> api);

    // The supported, unmuted row of the app in front: the app's own row, or in a browser the row
    // whose web app serves the page of the focused element.
    std::optional<SupportedApp> supportedApp(const desktop::RunningApplication& front);

    // Polls every 0.4 s while the process is trusted; a second call does nothing.
    void start();
    // One polling step: brings the state up to date with the focused field and answers the local
    // result that describes the field now.
    LocalResult refresh();
    // One AI check of the current draft; the completion, when given, runs exactly once on the
    // main thread with the result or none.
    void runAI(const std::string& depth, AICompletion completion = nullptr);

    // The text last sent for an AI check; the panel resets it to force a fresh live check.
    const std::string& lastAiText() const { return lastAiText_; }
    void setLastAiText(std::string text) { lastAiText_ = std::move(text); }
    const std::set<int32_t>& electronArmed() const { return electronArmed_; }

private:
    // The debounced live check, restarted by every text change.
    void scheduleAI(const SupportedApp& app);
    // Steps of refresh().
    LocalResult readField(const SupportedApp& app, int32_t pid);
    void armElectron(const SupportedApp& app, int32_t pid);
    // The local check of a draft: the box's text, cut off or whole, and the one-line field of a
    // mail composer the person is in (a Subject line), whose findings cannot be fixed in place.
    LocalResult check(const SupportedApp& app, const std::string& text, bool cutOff,
                      const std::optional<std::string>& field);
    LocalResult unreadableField(const SupportedApp& app, const desktop::Element& box, int32_t pid);
    LocalResult noEditableField(const SupportedApp& app);
    LocalResult noSupportedApp();

    std::shared_ptr<DraftState> state_;
    std::shared_ptr<Engine> engine_;
    std::shared_ptr<KestrelAPI> api_;
    desktop::Timer timer_;
    desktop::Timer aiTimer_;
    std::set<int32_t> electronArmed_;
    std::string lastAiText_;
    std::optional<std::string> lastField_;
    bool lastCutOff_ = false;
    // Processes already told about in the log: a box that cannot be read, a browser that hides its pages.
    std::set<int32_t> toldUnreadable_;
};

}  // namespace kestrel
