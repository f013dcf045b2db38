// The scenario commands about our windows: clicking and filling controls, showing the panel, the
// pill and every window, and the expectations on them.
#include <cstdio>

#include "Desktop/View.h"
#include "Kestrel/App.h"
#include "Kestrel/Draft.h"
#include "Kestrel/Panel.h"
#include "Kestrel/Pill.h"
#include "Scenario/Runner.h"

namespace scenario {

namespace {

using Problem = Runner::Problem;

std::string number(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
}

std::string frameText(const desktop::Rect& r) {
    return number(r.minX()) + "," + number(r.minY()) + " " + number(r.width()) + "×" + number(r.height());
}

// What the pill says now: "hidden", "risks N", "notes N" or "clear".
std::string pillLook(kestrel::PillController& pill, const kestrel::DraftState& state) {
    if (!pill.window().isVisible()) return "hidden";
    size_t risks = state.risks().size();
    size_t findings = state.findings().size();
    if (risks > 0) return "risks " + std::to_string(risks);
    if (findings > 0) return "notes " + std::to_string(findings - risks);
    return "clear";
}

}  // namespace

std::string Runner::describe(desktop::Window& window) {
    std::string name = window.config().title;
    if (&window == &app_->panel()->panel()) name = "review panel";
    if (&window == &app_->pill()->window()) name = "pill";
    std::string out = name + " at " + frameText(window.frame()) + "\n";
    if (auto* view = window.content()) {
        std::string tree = view->render(window.contentLayoutRect().size);
        for (size_t start = 0; start < tree.size();) {
            size_t end = tree.find('\n', start);
            out += "  " + tree.substr(start, end - start) + "\n";
            start = end == std::string::npos ? tree.size() : end + 1;
        }
    }
    return out;
}

Runner::Outcome Runner::click(Args& args) {
    auto words = args.rest();
    if (words.size() == 1 && words[0].quoted) return asScriptError(driver_->click(words[0].text));
    desktop::Point at;
    if (words.size() == 1 && words[0].text == "pill") {
        auto& pill = app_->pill()->window();
        if (!pill.isVisible()) return Problem{true, "the pill is not showing"};
        at = {pill.frame().minX() + pill.frame().width() / 2, pill.frame().minY() + pill.frame().height() / 2};
    } else if (words.size() == 3 && !words[0].quoted && words[0].text == "at") {
        std::vector<Word> point(words.begin() + 1, words.end());
        Args coordinates(std::move(point));
        at = {coordinates.number("x"), coordinates.number("y")};
        if (auto bad = coordinates.finish()) return Problem{true, *bad};
    } else {
        return Problem{true, "click takes \"TITLE\", pill or at X Y"};
    }
    return asScriptError(driver_->clickAt(at));
}

Runner::Outcome Runner::fill(Args& args) {
    auto placeholder = args.text("placeholder");
    auto text = args.text("text");
    if (auto bad = args.finish()) return Problem{true, *bad};
    return asScriptError(driver_->fill(placeholder, text));
}

Runner::Outcome Runner::submit(Args& args) {
    auto placeholder = args.text("placeholder");
    if (auto bad = args.finish()) return Problem{true, *bad};
    return asScriptError(driver_->submit(placeholder));
}

Runner::Outcome Runner::showPanel(Args& args) {
    if (auto bad = args.finish()) return Problem{true, *bad};
    auto& panel = app_->panel()->panel();
    out_ << (panel.isVisible() ? "" : "(hidden) ") << describe(panel);
    return std::nullopt;
}

Runner::Outcome Runner::showPill(Args& args) {
    if (auto bad = args.finish()) return Problem{true, *bad};
    auto& pill = *app_->pill();
    out_ << "pill " << pillLook(pill, *app_->state());
    if (pill.window().isVisible()) {
        out_ << " at " << frameText(pill.window().frame()) << ": " << pill.host().render();
    } else {
        out_ << '\n';
    }
    return std::nullopt;
}

Runner::Outcome Runner::showWindows(Args& args) {
    if (auto bad = args.finish()) return Problem{true, *bad};
    out_ << (driver_->runsAsAccessory() ? "menu-bar accessory: no Dock icon, no application menu\n" : "regular application\n");
    auto windows = driver_->visibleWindows();
    if (windows.empty()) out_ << "no visible windows\n";
    for (auto* window : windows) out_ << describe(*window);
    return std::nullopt;
}

Runner::Outcome Runner::expectPanel(Args& args) {
    bool visible = args.toggle("visibility", "visible", "hidden");
    if (auto bad = args.finish()) return Problem{true, *bad};
    bool actual = app_->panel()->panel().isVisible();
    if (actual != visible) return Problem{false, actual ? "the panel is visible" : "the panel is hidden"};
    return std::nullopt;
}

Runner::Outcome Runner::expectGating(Args& args) {
    bool gating = args.toggle("gating");
    if (auto bad = args.finish()) return Problem{true, *bad};
    bool actual = app_->panel()->model().gating();
    if (actual != gating) return Problem{false, actual ? "gating is on" : "gating is off"};
    return std::nullopt;
}

Runner::Outcome Runner::expectNotice(Args& args) {
    auto text = args.text("notice");
    if (auto bad = args.finish()) return Problem{true, *bad};
    const auto& notice = app_->panel()->model().notice();
    if (notice != text)
        return Problem{false, notice ? "the notice is " + quote(*notice) : "no notice"};
    return std::nullopt;
}

Runner::Outcome Runner::expectShows(Args& args) {
    auto text = args.text("text");
    if (auto bad = args.finish()) return Problem{true, *bad};
    for (auto* window : driver_->visibleWindows()) {
        auto* view = window->content();
        if (!view) continue;
        for (const auto& shown : view->texts()) {
            if (shown.find(text) != std::string::npos) return std::nullopt;
        }
    }
    return Problem{false, "no visible window shows " + quote(text)};
}

Runner::Outcome Runner::expectPill(Args& args) {
    auto look = args.word("look");
    if (look == "risks" || look == "notes") look += " " + number(args.number("count"));
    if (auto bad = args.finish()) return Problem{true, *bad};
    if (look != "hidden" && look != "clear" && !look.starts_with("risks ") && !look.starts_with("notes "))
        return Problem{true, "pill takes risks N, notes N, clear or hidden"};
    auto actual = pillLook(*app_->pill(), *app_->state());
    if (actual != look) return Problem{false, "the pill shows " + actual};
    return std::nullopt;
}

Runner::Outcome Runner::expectClipboard(Args& args) {
    auto text = args.text("text");
    if (auto bad = args.finish()) return Problem{true, *bad};
    auto actual = driver_->desktop().pasteboard().string();
    if (actual != text)
        return Problem{false,
                       actual ? "the clipboard holds " + quote(*actual) : "the clipboard is empty"};
    return std::nullopt;
}

}  // namespace scenario
