// The review panel's content.
#include <string>

#include "Desktop/Desktop.h"
#include "Kestrel/API.h"
#include "Kestrel/Draft.h"
#include "Kestrel/Panel.h"

namespace kestrel {

using namespace ui;

namespace {

constexpr const char* kNeedsAccess =
    "Kestrel needs Accessibility access to read what you are writing. Grant it from the menu bar icon.";
constexpr const char* kPutCursor =
    "Put the cursor in a message in Mail, Outlook, Slack, Teams, Discord or Messages.";
constexpr const char* kStartTyping = "Start typing and the checks run as you go.";
constexpr size_t kSlopMinWords = 12;
constexpr size_t kRewriteMinWords = 8;

Node caption(std::string text) {
    return Text(std::move(text)).withFont(Font::caption()).foregroundColor(Color::secondary());
}

// Trims spaces and tabs only, as the add button does.
bool isBlankLine(const std::string& text) {
    return text.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

Node PanelView::body() const {
    std::vector<Node> content;
    if (!desktop::current().accessibility().isTrusted()) {
        content.push_back(info(kNeedsAccess));
    } else if (!state->app()) {
        content.push_back(info(kPutCursor));
    } else if (state->text().empty()) {
        content.push_back(info(kStartTyping));
    } else {
        content.push_back(findingsSection());
        content.push_back(slopSection());
        content.push_back(aiSection());
        content.push_back(rewriteSection());
    }
    if (state->app()) {
        content.push_back(addRuleSection().padded(Insets{4, 0, 0, 0}));
    }
    if (model->notice()) content.push_back(caption(*model->notice()));

    return VStack(HAlign::leading, 0,
                  {header(), Divider(),
                   ScrollView(VStack(HAlign::leading, 12, std::move(content))
                                  .padded(14)
                                  .frame(kWidth, std::nullopt, HAlign::leading)),
                   heldLook() ? gateFooter() : EmptyView()})
        .frame(kWidth)
        .frameMaxHeight(kMaxHeight);
}

bool PanelView::heldLook() const { return model->gating() || (!model->shown() && !state->risks().empty()); }

Node PanelView::header() const {
    bool risky = !state->risks().empty();
    return HStack(VAlign::center, 8,
                  {Image(risky ? "exclamationmark.triangle.fill" : "checkmark.seal.fill")
                       .foregroundColor(risky ? Color::red() : Color::accent()),
                   VStack(HAlign::leading, 1,
                          {Text(heldLook() ? "Hold on before you send" : "Kestrel")
                               .withFont(Font::headline()),
                           caption(subtitle())}),
                   Spacer(),
                   SymbolButton("xmark", "Close", actions.close)
                       .style(ButtonStyle::plain)
                       .withFont(Font::caption().weighted(Weight::bold))
                       .foregroundColor(Color::secondary())})
        .padded(Insets{12, 14, 10, 14});
}

std::string PanelView::subtitle() const {
    if (!state->app()) return "Nothing focused";
    std::string out = state->app()->label;
    const std::string separator = " \u00B7 ";
    if (size_t words = state->wordCount(); words > 0) out += separator + std::to_string(words) + " words";
    if (const auto& user = api->user()) out += separator + user->planLabel();
    return out;
}

Node PanelView::info(const std::string& message) const {
    return Text(message).withFont(Font::callout()).foregroundColor(Color::secondary());
}

Node PanelView::findingsSection() const {
    auto findings = state->findings();
    if (findings.empty()) {
        return HStack(VAlign::center, 8,
                      {Image("checkmark.circle.fill").foregroundColor(Color::green()),
                       Text(state->local().tooShort ? "Too short to judge yet." : "Nothing to flag.")
                           .withFont(Font::callout())});
    }
    std::vector<Node> rows;
    if (findings.size() >= 2) {
        rows.push_back(HStack(VAlign::center, 8,
                              {Spacer(),
                               Button("Ignore all", actions.dismissAll)
                                   .style(ButtonStyle::plain)
                                   .withFont(Font::caption().weighted(Weight::semibold))
                                   .foregroundColor(Color::accent())
                                   .help("Drop every finding for the current draft")}));
    }
    for (const auto& finding : findings) rows.push_back(findingRow(finding));
    return VStack(HAlign::leading, 12, std::move(rows));
}

Node PanelView::findingRow(const Finding& finding) const {
    Color dot = finding.level == "risk"   ? Color::red()
                : finding.level == "warn" ? Color::orange()
                                          : Color::blue();
    std::vector<Node> lines;
    lines.push_back(Text(finding.title).withFont(Font::callout().weighted(Weight::semibold)));
    if (finding.detail && !finding.detail->empty()) lines.push_back(caption(*finding.detail));

    auto button = [](const char* title, const std::function<void(const Finding&)>& action,
                     const Finding& f, std::string tooltip) {
        return Button(title,
                      [action, f] {
                          if (action) action(f);
                      })
            .style(ButtonStyle::bordered)
            .size(ControlSize::small)
            .help(std::move(tooltip));
    };
    std::vector<Node> buttons;
    if (finding.original && finding.suggestion) {
        buttons.push_back(button("Fix", actions.fix, finding,
                                 "Replace \"" + *finding.original + "\" with the suggestion"));
    }
    buttons.push_back(button("Ignore", actions.dismiss, finding, "Drop this for the current draft"));
    buttons.push_back(button("Turn off rule", actions.muteRule, finding, "Stop checking for this on this Mac"));
    lines.push_back(HStack(VAlign::center, 6, std::move(buttons)).padded(Insets{2, 0, 0, 0}));

    return HStack(VAlign::top, 8,
                  {Circle().filled(dot).frame(8, 8).padded(Insets{5, 0, 0, 0}),
                   VStack(HAlign::leading, 4, std::move(lines)), Spacer()})
        .id(finding.id);
}

Node PanelView::slopSection() const {
    const auto& slop = state->local().slop;
    if (!slop || state->wordCount() < kSlopMinWords) return EmptyView();
    return HStack(VAlign::center, 6,
                  {Image("waveform").foregroundColor(Color::secondary()), caption(slopLabel(*slop))});
}

std::string PanelView::slopLabel(const SlopSummary& summary) {
    if (summary.level == "slop") return "Reads as AI-written (" + std::to_string(summary.tells) + " tells)";
    if (summary.level == "traces") return "A few AI traces";
    return "Reads human";
}

Node PanelView::aiSection() const {
    const auto& ai = state->ai();
    if (!api->token()) {
        return HStack(VAlign::center, 8,
                      {caption("Sign in for AI checks and rewrites."), Spacer(),
                       Button("Sign in", actions.signIn).size(ControlSize::small)});
    }
    if (ai && ai->aiLimited.value_or(false)) {
        return HStack(VAlign::center, 8,
                      {caption("Monthly AI checks used up. Rule checks still run."), Spacer(),
                       Button("Upgrade", actions.upgrade).size(ControlSize::small)});
    }
    if (state->aiPending()) {
        return HStack(VAlign::center, 6, {ProgressView(ProgressSize::mini), caption("AI check running…")});
    }
    if (ai && (ai->voiceScore || ai->slopScore)) {
        std::vector<Node> labels;
        auto label = [](const char* symbol, std::string text) {
            return HStack(VAlign::center, 4,
                          {Image(symbol).withFont(Font::caption()).foregroundColor(Color::secondary()),
                           caption(std::move(text))});
        };
        if (ai->voiceScore) labels.push_back(label("person.wave.2", "Voice " + std::to_string(*ai->voiceScore)));
        if (ai->slopScore) labels.push_back(label("sparkles", "Slop " + std::to_string(*ai->slopScore)));
        return HStack(VAlign::center, 14, std::move(labels));
    }
    return EmptyView();
}

Node PanelView::rewriteSection() const {
    if (!api->token() || state->wordCount() < kRewriteMinWords) return EmptyView();
    if (const auto& rewritten = model->rewrite()) {
        return VStack(HAlign::leading, 12,
                      {Divider(),
                       Text(*rewritten)
                           .withFont(Font::callout())
                           .textSelection()
                           .padded(8)
                           .backgroundColor(Color::controlBackground(), 6),
                       HStack(VAlign::center, 8,
                              {Button("Replace", actions.applyRewrite).size(ControlSize::small),
                               Button("Copy", actions.copyRewrite).size(ControlSize::small)})});
    }
    bool busy = model->rewriteBusy();
    auto mode = [this](std::string m) {
        return [rewrite = actions.rewrite, m] {
            if (rewrite) rewrite(m);
        };
    };
    return VStack(HAlign::leading, 12,
                  {Divider(),
                   HStack(VAlign::center, 8,
                          {Button("Rewrite in my voice", mode("human")).size(ControlSize::small).disabled(busy),
                           Button("Shorter", mode("shorter")).size(ControlSize::small).disabled(busy),
                           busy ? ProgressView(ProgressSize::mini) : EmptyView()})});
}

Node PanelView::addRuleSection() const {
    bool busy = model->addRuleBusy();
    std::weak_ptr<PanelModel> weakModel = model;
    Binding text{[weakModel] {
                     auto m = weakModel.lock();
                     return m ? m->addRuleText() : std::string();
                 },
                 [weakModel](std::string value) {
                     if (auto m = weakModel.lock()) m->setAddRuleText(std::move(value));
                 }};
    std::vector<Node> lines;
    lines.push_back(Text("ADD A CHECK")
                        .withFont(Font::caption2().weighted(Weight::semibold))
                        .foregroundColor(Color::tertiary()));
    lines.push_back(HStack(VAlign::center, 6,
                           {TextField(kAddRulePlaceholder, std::move(text))
                                .withFont(Font::callout())
                                .onSubmit(actions.addRule)
                                .disabled(busy),
                            Button("Add", actions.addRule)
                                .style(ButtonStyle::borderedProminent)
                                .size(ControlSize::small)
                                .disabled(busy || isBlankLine(model->addRuleText()))}));
    if (model->addRuleNote()) lines.push_back(caption(*model->addRuleNote()));
    return VStack(HAlign::leading, 6, std::move(lines));
}

Node PanelView::gateFooter() const {
    size_t n = state->risks().size();
    std::string count = std::to_string(n) + " risk" + (n == 1 ? "" : "s") + " would go out with this.";
    return VStack(HAlign::leading, 0,
                  {Divider(),
                   HStack(VAlign::center, 8,
                          {caption(count), Spacer(), Button("Send anyway", actions.sendAnyway),
                           Button("Go back", actions.goBack).defaultAction()})
                       .padded(12)});
}

}  // namespace kestrel
