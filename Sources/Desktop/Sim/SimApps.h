// The simulated applications: fake mail and chat apps with compose fields, which one is in front,
// their accessibility elements and this process's trust. Implements the Workspace and
// Accessibility services; the driver verbs set the scene the way a person would.
// Main thread. Owned by SimDesktop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Desktop/Accessibility.h"
#include "Desktop/Bundle.h"
#include "Desktop/KeyEvent.h"
#include "Desktop/RunLoop.h"
#include "Desktop/Workspace.h"

namespace desktop::sim {

// What a driver declares about a fake application.
struct FakeApp {
    std::string bundleID;
    // Exposes its focused element only once "AXManualAccessibility" is set on its application
    // element, as Electron apps do.
    bool electron = false;
    // Whether a key-down is the app's Send shortcut; none for an app that never sends.
    std::function<bool(const KeyEvent&)> isSend;
};

class SimApps final : public Workspace, public Accessibility {
public:
    static constexpr const char* kFocusedUIElement = "AXFocusedUIElement";
    static constexpr const char* kManualAccessibility = "AXManualAccessibility";
    static constexpr const char* kRole = "AXRole";
    static constexpr const char* kValue = "AXValue";
    static constexpr const char* kPosition = "AXPosition";
    static constexpr const char* kSize = "AXSize";

    SimApps(const Bundle& ownBundle, RunLoop& runLoop);

    // Workspace
    std::optional<RunningApplication> frontmostApplication() const override;
    void open(const std::string& url) override { opened_.push_back(url); }
    void activate() override;
    // There is no Dock to hide here; the policy is recorded for the driver.
    void setActivationPolicy(ActivationPolicy policy) override { activationPolicy_ = policy; }
    void terminate() override;

    // Accessibility
    Element applicationElement(int32_t pid) override;
    std::expected<AXValue, AXError> copyAttribute(const Element& element,
                                                  std::string_view attribute) override;
    AXError setAttribute(const Element& element, std::string_view attribute,
                         const AXValue& value) override;
    bool isTrusted() const override { return trusted_; }
    bool isTrustedWithPrompt() override;

    // Driver: applications.
    void install(FakeApp app);
    // Brings an installed app to the front, launching it (with a new pid) when it is not running.
    int32_t bringToFront(const std::string& bundleID);
    void quit(const std::string& bundleID);
    std::optional<int32_t> pid(const std::string& bundleID) const;
    // The key events that reach applications: a fake app sends when its Send shortcut arrives
    // with a non-empty field, and otherwise ignores keys (only type and set edit a field).
    void receiveKey(const KeyEvent& event);
    // Messages an app sent, oldest first.
    std::vector<std::string> sent(const std::string& bundleID) const;
    size_t manualAccessibilityWrites(const std::string& bundleID) const;

    // Driver: the front app's focused element. A role of "" focuses nothing. The frame is in
    // accessibility coordinates.
    Element focusField(const std::string& role, const std::string& text, Rect frame);
    void focusNothing();
    std::optional<Element> focusedField() const;
    std::optional<std::string> focusedText() const;
    void type(const std::string& text);
    void setText(const std::string& text);
    void setReadOnly(bool readOnly);
    // Sets or removes any attribute of any element directly, for odd values.
    void setAttributeValue(const Element& element, const std::string& attribute, AXValue value);
    void removeAttribute(const Element& element, const std::string& attribute);

    // Driver: trust and what the application asked of the system.
    void setTrusted(bool trusted) { trusted_ = trusted; }
    size_t trustPrompts() const { return trustPrompts_; }
    const std::vector<std::string>& opened() const { return opened_; }
    bool terminated() const { return terminated_; }
    ActivationPolicy activationPolicy() const { return activationPolicy_; }

private:
    struct ElementData {
        std::map<std::string, AXValue, std::less<>> attributes;
        bool writable = true;
    };
    struct App {
        FakeApp fake;
        std::optional<int32_t> pid;
        bool manualAccessibility = false;
        size_t manualAccessibilityWrites = 0;
        std::vector<std::string> sent;
        std::map<uint64_t, ElementData> elements;  // id 0: the application element
        std::optional<Element> focused;
    };
    App* appWithPid(int32_t pid);
    App* frontApp();
    const App* frontApp() const;
    ElementData* data(const Element& element, App** owner = nullptr);
    ElementData* focusedData();
    Element makeElement(int32_t pid, uint64_t id) const;

    const Bundle& ownBundle_;
    static constexpr int32_t kOwnPid = 1;
    RunLoop& runLoop_;
    std::map<std::string, App> apps_;
    std::optional<std::string> front_;  // bundle id of a fake app
    bool ownFront_ = false;             // we activated ourselves since the last bringToFront
    int32_t nextPid_ = 1000;
    uint64_t nextElement_ = 1;
    bool trusted_ = true;
    size_t trustPrompts_ = 0;
    std::vector<std::string> opened_;
    bool terminated_ = false;
    ActivationPolicy activationPolicy_ = ActivationPolicy::regular;
};

}  // namespace desktop::sim
