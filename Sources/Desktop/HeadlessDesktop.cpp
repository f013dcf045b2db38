#include "Desktop/HeadlessDesktop.h"

namespace desktop {

namespace {
constexpr const char* kNoDesktop = "there is no desktop in this mode";

class ToolBundle final : public Bundle {
public:
    explicit ToolBundle(std::optional<std::filesystem::path> resources) : resources_(std::move(resources)) {}
    std::string identifier() const override { return "app.kestrel.Kestrel"; }
    std::optional<nlohmann::json> infoValue(const std::string& key) const override {
        if (key == "CFBundleShortVersionString") return KESTREL_VERSION;
        return std::nullopt;
    }
    std::optional<std::filesystem::path> resourceDirectory() const override { return resources_; }

private:
    std::optional<std::filesystem::path> resources_;
};
}  // namespace

// Every service that needs a screen, answering as a system with nothing attached does.
struct HeadlessDesktop::Absent final : Workspace, Accessibility, Events, Screens, Windows, Pasteboard,
                                       StatusBar, LoginItems, SecureStore {
    explicit Absent(std::optional<std::filesystem::path> resources) : bundle(std::move(resources)) {}

    std::optional<RunningApplication> frontmostApplication() const override { return std::nullopt; }
    void open(const std::string&) override {}
    void activate() override {}
    void setActivationPolicy(ActivationPolicy) override {}
    void terminate() override {}

    Element applicationElement(int32_t) override { return Element(std::make_shared<ElementHandle>()); }
    std::expected<AXValue, AXError> copyAttribute(const Element&, std::string_view) override {
        return std::unexpected(AXError::apiDisabled);
    }
    AXError setAttribute(const Element&, std::string_view, const AXValue&) override { return AXError::apiDisabled; }
    bool isTrusted() const override { return false; }
    bool isTrustedWithPrompt() override { return false; }

    std::unique_ptr<EventTap> createTap(uint64_t, TapCallback) override { return nullptr; }
    void post(const KeyEvent&) override {}

    std::vector<Screen> screens() const override { return {}; }
    std::optional<Screen> mainScreen() const override { return std::nullopt; }
    Point mouseLocation() const override { return {}; }

    std::unique_ptr<Window> makeWindow(const WindowConfig&) override { return nullptr; }
    MonitorToken addGlobalMouseDownMonitor(std::function<void(const MouseEvent&)>) override { return {}; }
    void runModalAlert(const Alert&) override {}

    void clearContents() override {}
    bool setString(const std::string&) override { return false; }
    std::optional<std::string> string() const override { return std::nullopt; }

    std::shared_ptr<StatusItem> makeStatusItem() override { return nullptr; }

    Status status() const override { return Status::notFound; }
    std::expected<void, std::string> registerApp() override { return std::unexpected(kNoDesktop); }
    std::expected<void, std::string> unregisterApp() override { return std::unexpected(kNoDesktop); }

    SecCopyResult copyMatching(const SecItemQuery&) override { return {secstatus::interactionNotAllowed, {}}; }
    SecStatus update(const SecItemQuery&, const std::string&) override { return secstatus::interactionNotAllowed; }
    SecStatus add(const SecItemQuery&, const std::string&, SecAccessibility) override {
        return secstatus::interactionNotAllowed;
    }
    SecStatus remove(const SecItemQuery&) override { return secstatus::interactionNotAllowed; }

    ToolBundle bundle;
};

HeadlessDesktop::HeadlessDesktop(std::optional<std::filesystem::path> resourceDirectory)
    : runLoop_(Clock::real),
      log_(true),
      absent_(std::make_unique<Absent>(std::move(resourceDirectory))),
      executor_(std::make_unique<Executor>(1)) {}

HeadlessDesktop::~HeadlessDesktop() {
    http_.shutDown();
    executor_.reset();
}

const Bundle& HeadlessDesktop::bundle() const { return absent_->bundle; }
SecureStore& HeadlessDesktop::secureStore() { return *absent_; }
Workspace& HeadlessDesktop::workspace() { return *absent_; }
Accessibility& HeadlessDesktop::accessibility() { return *absent_; }
Events& HeadlessDesktop::events() { return *absent_; }
Screens& HeadlessDesktop::screens() { return *absent_; }
Windows& HeadlessDesktop::windows() { return *absent_; }
Pasteboard& HeadlessDesktop::pasteboard() { return *absent_; }
StatusBar& HeadlessDesktop::statusBar() { return *absent_; }
LoginItems& HeadlessDesktop::loginItems() { return *absent_; }

}  // namespace desktop
