// The review panel: its observable model, the callbacks through which its view acts, the view
// itself, and the controller that opens it for a held send or by hand, places it beside the
// compose box and carries out what the person chooses. Main thread only. The application
// delegate owns the one PanelController for the life of the process.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Desktop/Observable.h"
#include "Desktop/View.h"
#include "Desktop/Windows.h"
#include "Kestrel/Engine.h"

namespace kestrel {

class DraftState;
class FocusWatcher;
class KestrelAPI;
class SendGate;

// Every setter announces, then assigns, also when the value is equal.
class PanelModel : public desktop::Observable {
public:
    // Open because a send is held: the footer shows and a click elsewhere leaves it open.
    bool gating() const { return gating_; }
    void setGating(bool v) { publish(gating_, v); }
    // On screen. Hidden with a risk left, the panel is laid out as a held send shows it, so that
    // the held send finds its widgets built and sized.
    bool shown() const { return shown_; }
    void setShown(bool v) { publish(shown_, v); }
    // The service's rewrite of the draft, waiting to be applied or copied.
    const std::optional<std::string>& rewrite() const { return rewrite_; }
    void setRewrite(std::optional<std::string> v) { publish(rewrite_, std::move(v)); }
    bool rewriteBusy() const { return rewriteBusy_; }
    void setRewriteBusy(bool v) { publish(rewriteBusy_, v); }
    // One status line at the foot of the content.
    const std::optional<std::string>& notice() const { return notice_; }
    void setNotice(std::optional<std::string> v) { publish(notice_, std::move(v)); }
    const std::string& addRuleText() const { return addRuleText_; }
    void setAddRuleText(std::string v) { publish(addRuleText_, std::move(v)); }
    bool addRuleBusy() const { return addRuleBusy_; }
    void setAddRuleBusy(bool v) { publish(addRuleBusy_, v); }
    // The status line under the add-check field.
    const std::optional<std::string>& addRuleNote() const { return addRuleNote_; }
    void setAddRuleNote(std::optional<std::string> v) { publish(addRuleNote_, std::move(v)); }

private:
    template <class T>
    void publish(T& field, T value) {
        announce();
        field = std::move(value);
    }

    bool gating_ = false;
    bool shown_ = false;
    std::optional<std::string> rewrite_;
    bool rewriteBusy_ = false;
    std::optional<std::string> notice_;
    std::string addRuleText_;
    bool addRuleBusy_ = false;
    std::optional<std::string> addRuleNote_;
};

// What the panel view may ask of the controller; the view never calls it directly.
struct PanelActions {
    std::function<void()> goBack;
    std::function<void()> sendAnyway;
    std::function<void(const Finding&)> dismiss;
    std::function<void()> dismissAll;
    std::function<void()> addRule;
    std::function<void(const Finding&)> fix;
    std::function<void(const Finding&)> muteRule;
    std::function<void(const std::string& mode)> rewrite;
    std::function<void()> applyRewrite;
    std::function<void()> copyRewrite;
    std::function<void()> signIn;
    std::function<void()> upgrade;
    std::function<void()> close;
};

// The panel's content, a function of the draft, the panel model and the backend client.
struct PanelView {
    static constexpr double kWidth = 380;
    static constexpr double kMaxHeight = 520;
    static constexpr const char* kAddRulePlaceholder =
        "In plain English: \"Flag any discount over 20%\"";

    std::shared_ptr<DraftState> state;
    std::shared_ptr<PanelModel> model;
    std::shared_ptr<KestrelAPI> api;
    PanelActions actions;

    ui::Node body() const;

private:
    // Drawn as for a held send: while one is held, and while hidden with a risk left.
    bool heldLook() const;
    ui::Node header() const;
    std::string subtitle() const;
    ui::Node info(const std::string& message) const;
    ui::Node findingsSection() const;
    ui::Node findingRow(const Finding& finding) const;
    ui::Node slopSection() const;
    static std::string slopLabel(const SlopSummary& summary);
    ui::Node aiSection() const;
    ui::Node rewriteSection() const;
    ui::Node addRuleSection() const;
    ui::Node gateFooter() const;
};

class PanelController : public std::enable_shared_from_this<PanelController> {
public:
    // Send anyway found another app or field in front of the held draft.
    static constexpr const char* kDraftNotInFront =
        "Not sent: that draft is no longer in front. Go back to it and press send again.";
    // Placement: above the box, beside it, or beside the pointer.
    static constexpr double kGapAbove = 10;
    static constexpr double kGapBeside = 12;
    static constexpr double kPointerOffset = 16;
    static constexpr double kResizeThreshold = 1;

    // Builds the hidden panel, its view and the re-fit subscriptions.
    static std::shared_ptr<PanelController> create(std::shared_ptr<DraftState> state,
                                                   std::shared_ptr<SendGate> gate,
                                                   std::shared_ptr<FocusWatcher> watcher,
                                                   std::shared_ptr<KestrelAPI> api);

    // Opens the panel for a send the gate holds.
    void showGate();
    // Closes the panel and drops the held send.
    void goBack();
    // Opens the panel by hand; `source` is "pill", "hotkey" or "menu".
    void show(const std::string& source);
    // Closes the panel; a held send is dropped, never replayed.
    void hide();

    PanelModel& model() { return *model_; }
    desktop::Window& panel() { return *panel_; }
    ui::HostingView& host() { return *host_; }
    // What the view calls; the other operations are reached only through these.
    const PanelActions& actions() const { return actions_; }
    // Opens the sign-in window; set by the application delegate.
    void setOpenSignIn(std::function<void()> open) { openSignIn_ = std::move(open); }

private:
    PanelController(std::shared_ptr<DraftState> state, std::shared_ptr<SendGate> gate,
                    std::shared_ptr<FocusWatcher> watcher, std::shared_ptr<KestrelAPI> api);
    void setUp();
    PanelActions makeActions();

    // Window side.
    void refit();
    void resize();
    void position();
    void watchForClickAway();
    void orderFront();

    // Gate actions.
    void sendAnyway();
    void dismiss(const Finding& finding);
    void dismissAll();
    void fix(const Finding& finding);
    void muteRule(const Finding& finding);
    void releaseIfClear();
    void dropHeldSend();

    // Service actions.
    void rewrite(const std::string& mode);
    void applyRewrite();
    void copyRewrite();
    void addRule();

    // The focused app's name for analytics, or the empty text.
    std::string platform() const;

    std::shared_ptr<PanelModel> model_;
    std::unique_ptr<desktop::Window> panel_;
    std::shared_ptr<DraftState> state_;
    std::shared_ptr<SendGate> gate_;
    std::shared_ptr<FocusWatcher> watcher_;
    std::shared_ptr<KestrelAPI> api_;
    std::shared_ptr<ui::HostingView> host_;
    std::vector<desktop::Subscription> observers_;
    std::optional<desktop::MonitorToken> clickAway_;
    // Where the panel went for which box: while the box stays put, a refit keeps the side.
    struct Placement {
        desktop::Rect box;
        bool beside = false;
    };
    std::optional<Placement> placement_;
    // A refit is on the main queue: later announcements join it. Placed since with nothing
    // announced after (brought to the front), the panel needs no placing again.
    bool refitQueued_ = false;
    bool placedFresh_ = false;
    // The draft announced a change since the panel was last placed.
    bool draftChanged_ = false;
    std::function<void()> openSignIn_;
    PanelActions actions_;
};

// Where a fix goes: the byte offsets of every non-overlapping occurrence of `original` in
// `text`, searched from the start, each search resuming where the last match ended.
std::vector<size_t> occurrences(const std::string& text, const std::string& original);

}  // namespace kestrel
