// The status item as a StatusNotifierItem (libayatana-appindicator3): a themed icon of the
// symbol's meaning, a title for hosts that show it as the tooltip, and the menu exported over
// D-Bus, rebuilt through its delegate whenever the host is about to open it and after every
// chosen item. Where no tray host runs the item stays invisible and one log line says so.
// Main thread only. The Linux desktop owns the bar; the application owns the item.
#pragma once

#include <memory>
#include <string>

#include "Desktop/StatusBar.h"

typedef struct _GtkWidget GtkWidget;

namespace desktop::x11 {

class IndicatorStatusBar final : public StatusBar {
public:
    // `identifier` names the item on the bus, e.g. the application id.
    explicit IndicatorStatusBar(std::string identifier) : identifier_(std::move(identifier)) {}
    std::shared_ptr<StatusItem> makeStatusItem() override;

private:
    std::string identifier_;
};

class IndicatorStatusItem final : public StatusItem {
public:
    // Seconds a tray host has to take the item before the log says it cannot be shown.
    static constexpr unsigned kHostGraceSeconds = 3;

    explicit IndicatorStatusItem(const std::string& identifier);
    ~IndicatorStatusItem() override;
    IndicatorStatusItem(const IndicatorStatusItem&) = delete;
    IndicatorStatusItem& operator=(const IndicatorStatusItem&) = delete;

    void setSymbol(const std::string& symbolName, const std::string& accessibilityDescription,
                   bool isTemplate) override;
    std::optional<std::string> symbol() const override { return symbol_; }
    void setTooltip(const std::string& tooltip) override;
    std::string tooltip() const override { return tooltip_; }
    void setMenu(std::shared_ptr<Menu> menu) override;
    std::shared_ptr<Menu> menu() const override { return menu_; }

    // The exported GTK menu, as the host will read it.
    GtkWidget* gtkMenu() const { return gtkMenu_; }
    // Rebuilds the exported menu from the delegate, as opening does.
    void rebuildMenu();
    // The icon name the host is shown.
    std::string iconName() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    GtkWidget* gtkMenu_ = nullptr;
    std::optional<std::string> symbol_;
    std::string tooltip_;
    std::shared_ptr<Menu> menu_;
};

}  // namespace desktop::x11
