#include "Desktop/FileDefaults.h"

namespace desktop {

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

FileDefaults::FileDefaults(std::optional<std::filesystem::path> file, statefile::Report report)
    : file_(std::move(file)) {
    if (file_) load(report);
}

void FileDefaults::load(const statefile::Report& report) {
    auto read = statefile::readJson(*file_);
    std::string problem;
    if (!read)
        problem = read.error();
    else if (*read && !(*read)->is_object())
        problem = "it is not a JSON object";
    if (!problem.empty()) {
        if (!statefile::setAside(*file_, kWhat, problem, "going on from the defaults", report))
            file_.reset();
        return;
    }
    if (!*read) return;
    for (const auto& [key, value] : (*read)->items()) {
        if (auto v = fromJson(value))
            values_.emplace(key, std::move(*v));
        else
            unreadable_.emplace(key, value);
    }
}

std::optional<DefaultValue> FileDefaults::object(std::string_view key) const {
    if (auto argument = arguments_.find(key); argument != arguments_.end()) return argument->second;
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void FileDefaults::set(std::string_view key, DefaultValue value) {
    if (auto it = unreadable_.find(key); it != unreadable_.end()) unreadable_.erase(it);
    values_.insert_or_assign(std::string(key), std::move(value));
    ++writes_;
    persist();
}

void FileDefaults::remove(std::string_view key) {
    if (auto it = unreadable_.find(key); it != unreadable_.end()) unreadable_.erase(it);
    if (auto it = values_.find(key); it != values_.end()) values_.erase(it);
    ++writes_;
    persist();
}

void FileDefaults::setArgument(std::string key, DefaultValue value) {
    arguments_.insert_or_assign(std::move(key), std::move(value));
}

void FileDefaults::persist() {
    if (!file_) return;
    json::Json object = json::Json::object();
    for (const auto& [key, value] : unreadable_) object[key] = value;
    for (const auto& [key, value] : values_) object[key] = toJson(value);
    // A failed write keeps the change in memory; the desktop reports an unwritable folder.
    (void)statefile::write(*file_,
                           object.dump(2, ' ', false, json::Json::error_handler_t::replace) + "\n",
                           statefile::Access::standard);
}

}  // namespace desktop
