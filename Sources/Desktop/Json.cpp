#include "Desktop/Json.h"

#include <cmath>
#include <limits>

namespace desktop::json {

namespace {
// Nesting depth outside strings, stopping early once past the limit.
bool withinDepth(std::string_view text) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}
}  // namespace

Decoded<Json> parse(std::string_view text) {
    if (!withinDepth(text)) return std::unexpected(DecodingError{"JSON nested too deeply"});
    try {
        return Json::parse(text);
    } catch (const Json::exception& e) {
        return std::unexpected(DecodingError{e.what()});
    }
}

std::string dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

ObjectReader::ObjectReader(const Json& value) : object_(value) {
    if (!value.is_object()) fail("expected an object");
}

void ObjectReader::fail(std::string message) {
    if (!error_) error_ = DecodingError{std::move(message)};
}

const Json* ObjectReader::field(const char* key, bool required) {
    if (error_) return nullptr;
    auto it = object_.find(key);
    if (it == object_.end() || it->is_null()) {
        if (required) fail(std::string("missing key \"") + key + "\"");
        return nullptr;
    }
    return &*it;
}

namespace {
std::optional<int64_t> asInteger(const Json& v) {
    if (v.is_number_integer()) {
        if (v.is_number_unsigned() &&
            v.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return std::nullopt;
        return v.get<int64_t>();
    }
    if (v.is_number_float()) {
        double d = v.get<double>();
        // An integral float such as 3.0 still names an integer; 3.5 does not.
        if (std::isfinite(d) && std::trunc(d) == d && d >= -9.2e18 && d <= 9.2e18)
            return static_cast<int64_t>(d);
    }
    return std::nullopt;
}

std::string typeError(const char* key, const char* expected) {
    return std::string(key) + ": expected " + expected;
}
}  // namespace

void ObjectReader::required(const char* key, std::string& out) {
    if (const Json* v = field(key, true)) {
        if (v->is_string()) out = v->get<std::string>();
        else fail(typeError(key, "a string"));
    }
}

void ObjectReader::required(const char* key, bool& out) {
    if (const Json* v = field(key, true)) {
        if (v->is_boolean()) out = v->get<bool>();
        else fail(typeError(key, "a boolean"));
    }
}

void ObjectReader::required(const char* key, int64_t& out) {
    if (const Json* v = field(key, true)) {
        if (auto i = asInteger(*v)) out = *i;
        else fail(typeError(key, "an integer"));
    }
}

void ObjectReader::required(const char* key, std::vector<std::string>& out) {
    if (const Json* v = field(key, true)) {
        if (!v->is_array()) return fail(typeError(key, "an array of strings"));
        out.clear();
        for (const auto& item : *v) {
            if (!item.is_string()) return fail(typeError(key, "an array of strings"));
            out.push_back(item.get<std::string>());
        }
    }
}

void ObjectReader::optional(const char* key, std::optional<std::string>& out) {
    if (const Json* v = field(key, false)) {
        if (v->is_string()) out = v->get<std::string>();
        else fail(typeError(key, "a string"));
    }
}

void ObjectReader::optional(const char* key, std::optional<bool>& out) {
    if (const Json* v = field(key, false)) {
        if (v->is_boolean()) out = v->get<bool>();
        else fail(typeError(key, "a boolean"));
    }
}

void ObjectReader::optional(const char* key, std::optional<int64_t>& out) {
    if (const Json* v = field(key, false)) {
        if (auto i = asInteger(*v)) out = *i;
        else fail(typeError(key, "an integer"));
    }
}

}  // namespace desktop::json
