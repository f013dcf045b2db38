#include "Desktop/Sim/SimSecureStore.h"

#include "Desktop/Json.h"

namespace desktop::sim {

namespace {
constexpr std::string_view kHex = "0123456789abcdef";

// Item data are bytes; the file keeps them as hexadecimal text.
std::string toHex(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
    return out;
}

std::optional<std::string> fromHex(std::string_view text) {
    if (text.size() % 2) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        auto hi = kHex.find(text[i]), lo = kHex.find(text[i + 1]);
        if (hi == std::string_view::npos || lo == std::string_view::npos) return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return out;
}

const char* accessibilityName(SecAccessibility a) {
    switch (a) {
        case SecAccessibility::whenUnlocked: return "whenUnlocked";
        case SecAccessibility::afterFirstUnlock: return "afterFirstUnlock";
        case SecAccessibility::afterFirstUnlockThisDeviceOnly: return "afterFirstUnlockThisDeviceOnly";
    }
    return "whenUnlocked";
}

SecAccessibility accessibilityFrom(std::string_view name) {
    if (name == "afterFirstUnlock") return SecAccessibility::afterFirstUnlock;
    if (name == "afterFirstUnlockThisDeviceOnly") return SecAccessibility::afterFirstUnlockThisDeviceOnly;
    return SecAccessibility::whenUnlocked;
}
}  // namespace

SimSecureStore::SimSecureStore(std::optional<std::filesystem::path> file, statefile::Report report)
    : file_(std::move(file)) {
    if (file_) load(report);
}

SimSecureStore::Key SimSecureStore::keyOf(const SecItemQuery& query) {
    return {static_cast<int>(query.itemClass), query.service, query.account};
}

std::optional<SecStatus> SimSecureStore::takeFailure(Operation operation) {
    auto it = failures_.find(operation);
    if (it == failures_.end()) return std::nullopt;
    auto status = it->second;
    failures_.erase(it);
    return status;
}

SecCopyResult SimSecureStore::copyMatching(const SecItemQuery& query) {
    if (auto status = takeFailure(Operation::copy)) return {*status, std::nullopt};
    auto it = items_.find(keyOf(query));
    if (it == items_.end()) return {secstatus::itemNotFound, std::nullopt};
    return {secstatus::success, it->second.data};
}

SecStatus SimSecureStore::update(const SecItemQuery& query, const std::string& data) {
    if (auto status = takeFailure(Operation::update)) return *status;
    auto it = items_.find(keyOf(query));
    if (it == items_.end()) return secstatus::itemNotFound;
    it->second.data = data;
    persist();
    return secstatus::success;
}

SecStatus SimSecureStore::add(const SecItemQuery& query, const std::string& data,
                              SecAccessibility accessibility) {
    if (auto status = takeFailure(Operation::add)) return *status;
    if (query.service.empty() && query.account.empty()) return secstatus::param;
    auto [it, inserted] = items_.try_emplace(keyOf(query), Item{query, data, accessibility});
    if (!inserted) return secstatus::duplicateItem;
    persist();
    return secstatus::success;
}

SecStatus SimSecureStore::remove(const SecItemQuery& query) {
    if (auto status = takeFailure(Operation::remove)) return *status;
    if (items_.erase(keyOf(query)) == 0) return secstatus::itemNotFound;
    persist();
    return secstatus::success;
}

std::vector<SimSecureStore::Item> SimSecureStore::items() const {
    std::vector<Item> out;
    for (const auto& [key, item] : items_) out.push_back(item);
    return out;
}

std::optional<SimSecureStore::Item> SimSecureStore::item(const SecItemQuery& query) const {
    auto it = items_.find(keyOf(query));
    if (it == items_.end()) return std::nullopt;
    return it->second;
}

void SimSecureStore::plant(const SecItemQuery& query, std::string data,
                           SecAccessibility accessibility) {
    items_.insert_or_assign(keyOf(query), Item{query, std::move(data), accessibility});
    persist();
}

void SimSecureStore::failNext(Operation operation, SecStatus status) {
    failures_.insert_or_assign(operation, status);
}

namespace {
// One stored item, or nothing when the entry is malformed.
std::optional<SimSecureStore::Item> itemFrom(const json::Json& entry) {
    if (!entry.is_object()) return std::nullopt;
    auto service = entry.find("service"), account = entry.find("account"),
         data = entry.find("data");
    if (service == entry.end() || account == entry.end() || data == entry.end() ||
        !service->is_string() || !account->is_string() || !data->is_string())
        return std::nullopt;
    auto bytes = fromHex(data->get<std::string>());
    if (!bytes) return std::nullopt;
    SecItemQuery query{SecItemClass::genericPassword, service->get<std::string>(),
                       account->get<std::string>()};
    auto access = entry.value("accessibility", std::string());
    return SimSecureStore::Item{query, std::move(*bytes), accessibilityFrom(access)};
}
}  // namespace

void SimSecureStore::load(const statefile::Report& report) {
    auto read = statefile::readJson(*file_);
    std::string problem;
    std::map<Key, Item> loaded;
    if (!read) {
        problem = read.error();
    } else if (*read && !(*read)->is_array()) {
        problem = "it is not a JSON list";
    } else if (*read) {
        for (const auto& entry : **read) {
            auto item = itemFrom(entry);
            // Half a keychain would be written back as the whole: keep the file as it is instead.
            if (!item) {
                problem = "an item in it is malformed";
                break;
            }
            loaded.insert_or_assign(keyOf(item->query), std::move(*item));
        }
    }
    if (problem.empty()) {
        items_ = std::move(loaded);
        return;
    }
    if (!statefile::setAside(*file_, "the saved session", problem, "going on signed out", report))
        file_.reset();
}

void SimSecureStore::persist() const {
    if (!file_) return;
    json::Json list = json::Json::array();
    for (const auto& [key, item] : items_) {
        list.push_back({{"class", "genp"},
                        {"service", item.query.service},
                        {"account", item.query.account},
                        {"accessibility", accessibilityName(item.accessibility)},
                        {"data", toHex(item.data)}});
    }
    // A failed write keeps the change in memory; the desktop reports an unwritable folder.
    (void)statefile::write(*file_, json::dump(list) + "\n", statefile::Access::ownerOnly);
}

}  // namespace desktop::sim
