// The simulated status bar and login items: state in memory, with the driver's view of the one
// status item the application made. Main thread only.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "Desktop/LoginItems.h"
#include "Desktop/StatusBar.h"

namespace desktop::sim {

class SimStatusItem final : public StatusItem {
public:
    void setSymbol(const std::string& symbolName, const std::string& accessibilityDescription,
                   bool isTemplate) override;
    std::optional<std::string> symbol() const override { return symbol_; }
    void setTooltip(const std::string& tooltip) override { tooltip_ = tooltip; }
    std::string tooltip() const override { return tooltip_; }
    void setMenu(std::shared_ptr<Menu> menu) override { menu_ = std::move(menu); }
    std::shared_ptr<Menu> menu() const override { return menu_; }

    bool isTemplate() const { return isTemplate_; }
    const std::string& accessibilityDescription() const { return description_; }

private:
    std::optional<std::string> symbol_;
    std::string description_;
    bool isTemplate_ = false;
    std::string tooltip_;
    std::shared_ptr<Menu> menu_;
};

class SimStatusBar final : public StatusBar {
public:
    std::shared_ptr<StatusItem> makeStatusItem() override;
    // The most recently made item while the application keeps it.
    std::shared_ptr<SimStatusItem> item() const { return item_.lock(); }

private:
    std::weak_ptr<SimStatusItem> item_;
};

class SimLoginItems final : public LoginItems {
public:
    Status status() const override { return status_; }
    std::expected<void, std::string> registerApp() override;
    std::expected<void, std::string> unregisterApp() override;

    void setStatus(Status status) { status_ = status; }
    // The next register or unregister fails with this description.
    void failNextChange(std::string description) { failure_ = std::move(description); }

private:
    std::expected<void, std::string> change(Status to);
    Status status_ = Status::notRegistered;
    std::optional<std::string> failure_;
};

}  // namespace desktop::sim
