#include "Kestrel/Draft.h"

#include "Desktop/Unicode.h"

namespace kestrel {

DraftState::DraftState() {
    auto stored = Prefs::disabledRules();
    disabledRules_ = std::set<std::string>(stored.begin(), stored.end());
}

std::vector<Finding> DraftState::findings() const {
    static const std::vector<Finding> none;
    const auto& aiFindings = ai_ && ai_->findings ? *ai_->findings : none;
    std::vector<Finding> kept;
    for (auto& finding : mergeFindings(local_.findings, aiFindings)) {
        if (ignored_.contains(finding.key()) || disabledRules_.contains(finding.id)) continue;
        kept.push_back(std::move(finding));
    }
    return kept;
}

std::vector<Finding> DraftState::risks() const {
    auto all = findings();
    std::erase_if(all, [](const Finding& finding) { return finding.level != "risk"; });
    return all;
}

size_t DraftState::wordCount() const {
    size_t words = 0;
    bool inWord = false;
    for (char32_t c : desktop::unicode::codePoints(text_)) {
        bool space = desktop::unicode::isWhitespace(c);
        if (!space && !inWord) ++words;
        inWord = !space;
    }
    return words;
}

void DraftState::clear() {
    setApp(std::nullopt);
    setText({});
    setLocal(LocalResult::empty);
    setAi(std::nullopt);
    setAiPending(false);
    setIgnored({});
    element_.reset();
    pid_.reset();
}

}  // namespace kestrel
