#include "Desktop/Sim/SimDesktop.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Desktop/Json.h"

namespace desktop::sim {

std::optional<nlohmann::json> SimBundle::infoValue(const std::string& key) const {
    auto it = info_.find(key);
    if (it == info_.end()) return std::nullopt;
    return *it;
}

namespace {
json::Json toJson(const DefaultValue& value) {
    return std::visit([](const auto& v) { return json::Json(v); }, value);
}

std::optional<DefaultValue> fromJson(const json::Json& v) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_boolean()) return v.get<bool>();
    if (v.is_number_integer()) return v.get<int64_t>();
    if (v.is_number_float()) return v.get<double>();
    if (v.is_array()) {
        std::vector<std::string> items;
        for (const auto& item : v) {
            if (!item.is_string()) return std::nullopt;
            items.push_back(item.get<std::string>());
        }
        return items;
    }
    return std::nullopt;
}
}  // namespace

SimDefaults::SimDefaults(std::optional<std::filesystem::path> file) : file_(std::move(file)) {
    if (!file_) return;
    std::ifstream in(*file_);
    if (!in) return;
    std::stringstream text;
    text << in.rdbuf();
    auto parsed = json::parse(text.str());
    if (!parsed || !parsed->is_object()) return;  // an unreadable file starts empty
    for (const auto& [key, value] : parsed->items()) {
        if (auto v = fromJson(value)) values_.emplace(key, std::move(*v));
    }
}

std::optional<DefaultValue> SimDefaults::object(std::string_view key) const {
    if (auto argument = arguments_.find(key); argument != arguments_.end()) return argument->second;
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void SimDefaults::set(std::string_view key, DefaultValue value) {
    values_.insert_or_assign(std::string(key), std::move(value));
    ++writes_;
    persist();
}

void SimDefaults::remove(std::string_view key) {
    if (auto it = values_.find(key); it != values_.end()) values_.erase(it);
    ++writes_;
    persist();
}

void SimDefaults::setArgument(std::string key, DefaultValue value) {
    arguments_.insert_or_assign(std::move(key), std::move(value));
}

void SimDefaults::persist() {
    if (!file_) return;
    json::Json object = json::Json::object();
    for (const auto& [key, value] : values_) object[key] = toJson(value);
    std::error_code ec;
    std::filesystem::create_directories(file_->parent_path(), ec);
    auto temporary = *file_;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << object.dump(2, ' ', false, json::Json::error_handler_t::replace) << '\n';
        if (!out) return;
    }
    std::filesystem::rename(temporary, *file_, ec);
}

void SimLog::write(std::string line) {
    std::lock_guard lock(mutex_);
    if (echo_) std::cerr << line << '\n';
    lines_.push_back(std::move(line));
}

std::vector<std::string> SimLog::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

SimDesktop::SimDesktop(SimOptions options)
    : runLoop_(options.clock),
      defaults_(options.stateDirectory
                    ? std::optional(*options.stateDirectory / "defaults.json")
                    : std::nullopt),
      secureStore_(options.stateDirectory
                       ? std::optional(*options.stateDirectory / "keychain.json")
                       : std::nullopt),
      apps_(bundle_, runLoop_),
      events_(runLoop_, [&apps = apps_](const KeyEvent& event) { apps.receiveKey(event); }),
      executor_(std::make_unique<Executor>(2)) {
    bundle_.setInfoValue("CFBundleShortVersionString", KESTREL_VERSION);
}

SimDesktop::~SimDesktop() {
    // Requests in flight end now rather than at their timeouts, so the executor joins at once.
    http_.shutDown();
    executor_.reset();
}

bool SimDesktop::settle(double timeoutSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        runLoop_.drain();
        auto left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        if (!executor_->waitUntilIdle(left)) return false;
        if (!runLoop_.hasPendingTasks() && executor_->isIdle()) return true;
    }
}

}  // namespace desktop::sim
