// The menu-bar status item: a template symbol image, a tooltip and one menu. Main thread only.
// The application owns the item it makes; the status bar shows it while it lives.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Desktop/Menu.h"

namespace desktop {

class StatusItem {
public:
    virtual ~StatusItem() = default;
    // Sets the button's image from a system symbol; an unknown symbol clears the image.
    virtual void setSymbol(const std::string& symbolName, const std::string& accessibilityDescription,
                           bool isTemplate) = 0;
    virtual std::optional<std::string> symbol() const = 0;
    virtual void setTooltip(const std::string& tooltip) = 0;
    virtual std::string tooltip() const = 0;
    virtual void setMenu(std::shared_ptr<Menu> menu) = 0;
    virtual std::shared_ptr<Menu> menu() const = 0;
};

class StatusBar {
public:
    virtual ~StatusBar() = default;
    // A square item in the system status bar.
    virtual std::shared_ptr<StatusItem> makeStatusItem() = 0;
};

}  // namespace desktop
