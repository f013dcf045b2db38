#include "Kestrel/Draft.h"

#include "Desktop/Unicode.h"

namespace kestrel {

DraftState::DraftState() {
    auto stored = Prefs::disabledRules();
    disabledRules_ = std::set<std::string>(stored.begin(), stored.end());
}

std::vector<Finding> DraftState::findings() const {
    // Suppressed findings leave before the merge picks one per rule: an ignored finding must not
    // stand for its rule and hide another finding of that rule (a second leaked key).
    auto unsuppressed = [this](const std::vector<Finding>& findings) {
        std::vector<Finding> kept;
        for (const auto& finding : findings) {
            if (!ignored_.contains(finding.key()) && !disabledRules_.contains(finding.id))
                kept.push_back(finding);
        }
        return kept;
    };
    static const std::vector<Finding> none;
    const auto& aiFindings = ai_ && ai_->findings ? *ai_->findings : none;
    return mergeFindings(unsuppressed(local_.findings), unsuppressed(aiFindings));
}

std::vector<Finding> DraftState::risks() const {
    auto all = findings();
    std::erase_if(all, [](const Finding& finding) { return finding.level != "risk"; });
    return all;
}

size_t DraftState::wordCount() const {
    if (words_) return *words_;
    size_t words = 0;
    bool inWord = false;
    for (char32_t c : desktop::unicode::codePoints(text_)) {
        bool space = desktop::unicode::isWhitespace(c);
        if (!space && !inWord) ++words;
        inWord = !space;
    }
    words_ = words;
    return words;
}

void DraftState::clear() {
    setApp(std::nullopt);
    setText({});
    setLocal(LocalResult::empty);
    setAi(std::nullopt);
    setAiPending(false);
    setIgnored({});
    if (unreadable_) setUnreadable(false);
    element_.reset();
    pid_.reset();
}

}  // namespace kestrel
