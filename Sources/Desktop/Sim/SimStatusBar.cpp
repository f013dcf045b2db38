#include "Desktop/Sim/SimStatusBar.h"

namespace desktop::sim {

void SimStatusItem::setSymbol(const std::string& symbolName,
                              const std::string& accessibilityDescription, bool isTemplate) {
    // Every non-empty name stands for an available symbol here.
    symbol_ = symbolName.empty() ? std::nullopt : std::optional(symbolName);
    description_ = accessibilityDescription;
    isTemplate_ = isTemplate;
}

std::shared_ptr<StatusItem> SimStatusBar::makeStatusItem() {
    auto item = std::make_shared<SimStatusItem>();
    item_ = item;
    return item;
}

std::expected<void, std::string> SimLoginItems::change(Status to) {
    if (failure_) {
        auto description = std::move(*failure_);
        failure_.reset();
        return std::unexpected(std::move(description));
    }
    status_ = to;
    return {};
}

std::expected<void, std::string> SimLoginItems::registerApp() { return change(Status::enabled); }
std::expected<void, std::string> SimLoginItems::unregisterApp() {
    return change(Status::notRegistered);
}

}  // namespace desktop::sim
