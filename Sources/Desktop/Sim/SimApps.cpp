#include "Desktop/Sim/SimApps.h"

#include <cassert>

namespace desktop::sim {

namespace {
struct SimElementHandle final : ElementHandle {
    SimElementHandle(int32_t pid, uint64_t id) : pid(pid), id(id) {}
    bool sameElement(const ElementHandle& other) const override {
        const auto* sim = dynamic_cast<const SimElementHandle*>(&other);
        return sim && sim->pid == pid && sim->id == id;
    }
    int32_t pid;
    uint64_t id;
};

const SimElementHandle* simHandle(const Element& element) {
    return dynamic_cast<const SimElementHandle*>(&element.handle());
}
}  // namespace

SimApps::SimApps(const Bundle& ownBundle, RunLoop& runLoop)
    : ownBundle_(ownBundle), runLoop_(runLoop) {}

std::optional<RunningApplication> SimApps::frontmostApplication() const {
    if (ownFront_) return RunningApplication{ownBundle_.identifier(), kOwnPid};
    const App* app = frontApp();
    if (!app) return std::nullopt;
    return RunningApplication{app->fake.bundleID, *app->pid};
}

void SimApps::activate() { ownFront_ = true; }

void SimApps::terminate() {
    terminated_ = true;
    runLoop_.stop();
}

Element SimApps::makeElement(int32_t pid, uint64_t id) const {
    return Element(std::make_shared<SimElementHandle>(pid, id));
}

Element SimApps::applicationElement(int32_t pid) { return makeElement(pid, 0); }

SimApps::App* SimApps::appWithPid(int32_t pid) {
    for (auto& [id, app] : apps_) {
        if (app.pid == pid) return &app;
    }
    return nullptr;
}

SimApps::App* SimApps::frontApp() {
    return const_cast<App*>(static_cast<const SimApps*>(this)->frontApp());
}

const SimApps::App* SimApps::frontApp() const {
    if (ownFront_ || !front_) return nullptr;
    auto it = apps_.find(*front_);
    return it == apps_.end() ? nullptr : &it->second;
}

SimApps::ElementData* SimApps::data(const Element& element, App** owner) {
    const auto* handle = simHandle(element);
    if (!handle) return nullptr;
    App* app = appWithPid(handle->pid);
    if (!app) return nullptr;
    if (owner) *owner = app;
    auto it = app->elements.find(handle->id);
    return it == app->elements.end() ? nullptr : &it->second;
}

std::expected<AXValue, AXError> SimApps::copyAttribute(const Element& element,
                                                       std::string_view attribute) {
    if (!trusted_) return std::unexpected(AXError::apiDisabled);
    App* app = nullptr;
    ElementData* element_ = data(element, &app);
    if (!element_) return std::unexpected(AXError::invalidUIElement);
    if (attribute == kFocusedUIElement && app->fake.electron && !app->manualAccessibility)
        return std::unexpected(AXError::noValue);
    auto it = element_->attributes.find(attribute);
    if (it == element_->attributes.end()) return std::unexpected(AXError::noValue);
    return it->second;
}

AXError SimApps::setAttribute(const Element& element, std::string_view attribute,
                              const AXValue& value) {
    if (!trusted_) return AXError::apiDisabled;
    App* app = nullptr;
    ElementData* target = data(element, &app);
    if (!target) return AXError::invalidUIElement;
    if (simHandle(element)->id == 0) {
        if (attribute != kManualAccessibility) return AXError::attributeUnsupported;
        ++app->manualAccessibilityWrites;
        app->manualAccessibility = std::holds_alternative<bool>(value) && std::get<bool>(value);
        return AXError::success;
    }
    if (attribute != kValue) return AXError::attributeUnsupported;
    if (!target->writable) return AXError::cannotComplete;
    if (!std::holds_alternative<std::string>(value)) return AXError::illegalArgument;
    target->attributes.insert_or_assign(std::string(kValue), value);
    return AXError::success;
}

bool SimApps::isTrustedWithPrompt() {
    if (!trusted_) ++trustPrompts_;
    return trusted_;
}

void SimApps::install(FakeApp app) {
    auto bundleID = app.bundleID;
    App installed;
    installed.fake = std::move(app);
    apps_.insert_or_assign(bundleID, std::move(installed));
}

int32_t SimApps::bringToFront(const std::string& bundleID) {
    auto it = apps_.find(bundleID);
    assert(it != apps_.end() && "app not installed");
    App& app = it->second;
    if (!app.pid) {
        app.pid = nextPid_++;
        app.manualAccessibility = false;
        app.elements.clear();
        app.elements[0] = ElementData{{}, false};
        app.focused.reset();
    }
    front_ = bundleID;
    ownFront_ = false;
    return *app.pid;
}

void SimApps::quit(const std::string& bundleID) {
    auto it = apps_.find(bundleID);
    if (it == apps_.end()) return;
    it->second.pid.reset();
    it->second.elements.clear();
    it->second.focused.reset();
    if (front_ == bundleID) front_.reset();
}

std::optional<int32_t> SimApps::pid(const std::string& bundleID) const {
    auto it = apps_.find(bundleID);
    if (it == apps_.end()) return std::nullopt;
    return it->second.pid;
}

void SimApps::receiveKey(const KeyEvent& event) {
    App* app = frontApp();
    if (!app || event.type != KeyEventType::keyDown || !app->fake.isSend ||
        !app->fake.isSend(event))
        return;
    ElementData* field = focusedData();
    if (!field) return;
    auto value = field->attributes.find(kValue);
    if (value == field->attributes.end()) return;
    const auto* text = std::get_if<std::string>(&value->second);
    if (!text || text->empty()) return;
    app->sent.push_back(*text);
    value->second = std::string();
}

std::vector<std::string> SimApps::sent(const std::string& bundleID) const {
    auto it = apps_.find(bundleID);
    return it == apps_.end() ? std::vector<std::string>{} : it->second.sent;
}

size_t SimApps::manualAccessibilityWrites(const std::string& bundleID) const {
    auto it = apps_.find(bundleID);
    return it == apps_.end() ? 0 : it->second.manualAccessibilityWrites;
}

Element SimApps::focusField(const std::string& role, const std::string& text, Rect frame) {
    App* app = frontApp();
    assert(app && "no fake app in front");
    uint64_t id = nextElement_++;
    auto element = makeElement(*app->pid, id);
    ElementData field;
    if (!role.empty()) field.attributes.emplace(kRole, role);
    field.attributes.emplace(kValue, text);
    field.attributes.emplace(kPosition, frame.origin);
    field.attributes.emplace(kSize, frame.size);
    app->elements[id] = std::move(field);
    app->focused = element;
    app->elements[0].attributes.insert_or_assign(kFocusedUIElement, element);
    return element;
}

void SimApps::focusNothing() {
    App* app = frontApp();
    if (!app) return;
    app->focused.reset();
    app->elements[0].attributes.erase(kFocusedUIElement);
}

SimApps::ElementData* SimApps::focusedData() {
    App* app = frontApp();
    if (!app || !app->focused) return nullptr;
    return data(*app->focused);
}

std::optional<Element> SimApps::focusedField() const {
    const App* app = frontApp();
    if (!app) return std::nullopt;
    return app->focused;
}

std::optional<std::string> SimApps::focusedText() const {
    auto* field = const_cast<SimApps*>(this)->focusedData();
    if (!field) return std::nullopt;
    auto it = field->attributes.find(kValue);
    if (it == field->attributes.end()) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&it->second)) return *text;
    return std::nullopt;
}

void SimApps::type(const std::string& text) { setText(focusedText().value_or("") + text); }

void SimApps::setText(const std::string& text) {
    ElementData* field = focusedData();
    assert(field && "no focused field");
    field->attributes.insert_or_assign(kValue, text);
}

void SimApps::setReadOnly(bool readOnly) {
    ElementData* field = focusedData();
    assert(field && "no focused field");
    field->writable = !readOnly;
}

void SimApps::setAttributeValue(const Element& element, const std::string& attribute,
                                AXValue value) {
    ElementData* target = data(element);
    assert(target && "no such element");
    target->attributes.insert_or_assign(attribute, std::move(value));
}

void SimApps::removeAttribute(const Element& element, const std::string& attribute) {
    if (ElementData* target = data(element)) target->attributes.erase(attribute);
}

}  // namespace desktop::sim
