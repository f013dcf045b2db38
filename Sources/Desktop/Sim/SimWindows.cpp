#include "Desktop/Sim/SimWindows.h"

#include <algorithm>
#include <cmath>

#include "Desktop/View.h"

namespace desktop::sim {

class SimWindow;

// Shared with the windows and monitor tokens, which may outlive the service.
struct SimWindows::Registry {
    std::vector<SimWindow*> order;  // front-most first
    std::map<uint64_t, std::function<void(const MouseEvent&)>> monitors;
    uint64_t nextMonitor = 1;
    const Screens* screens = nullptr;

    void bringToFront(SimWindow* window) {
        std::erase(order, window);
        order.insert(order.begin(), window);
    }
};

class SimWindow final : public Window {
public:
    SimWindow(WindowConfig config, std::shared_ptr<SimWindows::Registry> registry)
        : config_(std::move(config)), registry_(registry) {
        const Rect& content = config_.contentRect;
        frame_ = makeRect(content.minX(), content.minY(), content.width(),
                          content.height() + titleBarHeight());
        registry->order.push_back(this);
    }
    ~SimWindow() override {
        if (auto registry = registry_.lock()) std::erase(registry->order, this);
    }

    const WindowConfig& config() const override { return config_; }
    Rect frame() const override { return frame_; }
    void setFrame(Rect frame) override { frame_ = frame; }
    void setFrameOrigin(Point origin) override { frame_.origin = origin; }
    Rect contentLayoutRect() const override {
        return makeRect(0, 0, frame_.width(), std::max(0.0, frame_.height() - titleBarHeight()));
    }
    double titleBarHeight() const override {
        if (!(config_.style & windowstyle::titled)) return 0;
        return (config_.style & windowstyle::utilityWindow) ? SimWindows::kUtilityTitleBarHeight
                                                            : SimWindows::kTitleBarHeight;
    }
    bool isVisible() const override { return visible_; }
    bool isKey() const override { return key_; }
    void orderFront() override {
        visible_ = true;
        if (auto registry = registry_.lock()) registry->bringToFront(this);
    }
    void makeKeyAndOrderFront() override {
        if (auto registry = registry_.lock()) {
            for (auto* other : registry->order) other->key_ = false;
        }
        key_ = true;
        orderFront();
    }
    void orderOut() override {
        visible_ = false;
        key_ = false;
    }
    void setCloseHandler(std::function<void()> handler) override { closeHandler_ = std::move(handler); }
    void pressCloseButton() {
        if (closeHandler_) closeHandler_();
        orderOut();
    }
    void center() override {
        auto registry = registry_.lock();
        if (!registry) return;
        auto screen = registry->screens->mainScreen();
        if (!screen) return;
        const Rect& v = screen->visibleFrame;
        // Horizontally centred, a little above the middle, as the platform places it.
        double x = v.minX() + (v.width() - frame_.width()) / 2;
        double y = v.minY() + (v.height() - frame_.height()) * 2 / 3;
        frame_.origin = {std::round(x), std::round(y)};
    }
    void setContent(std::shared_ptr<ui::HostingView> view) override { content_ = std::move(view); }
    ui::HostingView* content() const override { return content_.get(); }

private:
    WindowConfig config_;
    std::weak_ptr<SimWindows::Registry> registry_;
    Rect frame_;
    bool visible_ = false;
    bool key_ = false;
    std::shared_ptr<ui::HostingView> content_;
    std::function<void()> closeHandler_;
};

SimWindows::SimWindows(const Screens& screens)
    : screens_(screens), registry_(std::make_shared<Registry>()) {
    registry_->screens = &screens_;
}

SimWindows::~SimWindows() = default;

std::unique_ptr<Window> SimWindows::makeWindow(const WindowConfig& config) {
    return std::make_unique<SimWindow>(config, registry_);
}

MonitorToken SimWindows::addGlobalMouseDownMonitor(std::function<void(const MouseEvent&)> handler) {
    auto id = registry_->nextMonitor++;
    registry_->monitors.emplace(id, std::move(handler));
    return MonitorToken([weak = std::weak_ptr<Registry>(registry_), id] {
        if (auto registry = weak.lock()) registry->monitors.erase(id);
    });
}

std::vector<Window*> SimWindows::visibleWindows() const {
    std::vector<Window*> out;
    for (auto* window : registry_->order) {
        if (window->isVisible()) out.push_back(window);
    }
    return out;
}

std::expected<void, std::string> SimWindows::pressCloseButton(Window& window) {
    if (!window.isVisible()) return std::unexpected("the window is not visible");
    if (!(window.config().style & windowstyle::closable)) return std::unexpected("the window has no close button");
    // Every window here was made by makeWindow.
    static_cast<SimWindow&>(window).pressCloseButton();
    return {};
}

std::expected<SimWindows::Click, std::string> SimWindows::click(Point location, MouseButton button) {
    for (auto* window : visibleWindows()) {
        if (window->config().ignoresMouseEvents || !window->frame().contains(location)) continue;
        Click click{window, false};
        Rect content = window->contentLayoutRect();
        Point local{location.x - window->frame().minX(),
                    window->frame().minY() + content.height() - location.y};
        if (auto* view = window->content(); view && local.y >= 0) {
            auto hit = view->clickAt(local, content.size);
            if (!hit) return std::unexpected(hit.error().message);
            click.control = *hit;
        }
        return click;
    }
    // Handlers may add or remove monitors; tell the ones present now.
    auto snapshot = registry_->monitors;
    MouseEvent event{button, location};
    for (auto& [id, handler] : snapshot) {
        if (registry_->monitors.contains(id)) handler(event);
    }
    return Click{};
}

}  // namespace desktop::sim
