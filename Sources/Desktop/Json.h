// Strict JSON decoding for records: a missing required key or a wrong JSON type fails the whole
// record, null counts as absent, unknown keys are ignored; absent optionals are left out on encode.
// The JSON library's exceptions stop here. Any thread.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace desktop::json {

using Json = nlohmann::json;

struct DecodingError {
    std::string message;
    bool operator==(const DecodingError&) const = default;
};

template <class T>
using Decoded = std::expected<T, DecodingError>;

// Deeper documents are refused before parsing so a hostile answer cannot exhaust the stack.
inline constexpr int kMaxDepth = 128;

Decoded<Json> parse(std::string_view text);
// Compact JSON; invalid UTF-8 in strings is replaced rather than thrown on.
std::string dump(const Json& value);

// Reads the fields of one JSON object, remembering the first failure.
class ObjectReader {
public:
    explicit ObjectReader(const Json& value);

    void required(const char* key, std::string& out);
    void required(const char* key, bool& out);
    void required(const char* key, int64_t& out);
    void required(const char* key, std::vector<std::string>& out);
    void optional(const char* key, std::optional<std::string>& out);
    void optional(const char* key, std::optional<bool>& out);
    void optional(const char* key, std::optional<int64_t>& out);

    // Records: T::decode(const Json&) -> Decoded<T>.
    template <class T>
    void requiredRecords(const char* key, std::vector<T>& out) {
        if (const Json* v = field(key, true)) readRecords(key, *v, out);
    }
    template <class T>
    void optionalRecords(const char* key, std::optional<std::vector<T>>& out) {
        if (const Json* v = field(key, false)) {
            std::vector<T> items;
            if (readRecords(key, *v, items)) out = std::move(items);
        }
    }
    template <class T>
    void optionalRecord(const char* key, std::optional<T>& out) {
        if (const Json* v = field(key, false)) {
            auto decoded = T::decode(*v);
            if (decoded) out = std::move(*decoded);
            else fail(std::string(key) + ": " + decoded.error().message);
        }
    }

    template <class T>
    Decoded<T> finish(T value) const {
        if (error_) return std::unexpected(*error_);
        return value;
    }

private:
    // Answers the value under `key`, or null when absent/null (failing if it was required).
    const Json* field(const char* key, bool required);
    void fail(std::string message);
    template <class T>
    bool readRecords(const char* key, const Json& v, std::vector<T>& out) {
        if (!v.is_array()) {
            fail(std::string(key) + ": expected an array");
            return false;
        }
        out.clear();
        out.reserve(v.size());
        for (const auto& item : v) {
            auto decoded = T::decode(item);
            if (!decoded) {
                fail(std::string(key) + ": " + decoded.error().message);
                return false;
            }
            out.push_back(std::move(*decoded));
        }
        return true;
    }

    const Json& object_;
    std::optional<DecodingError> error_;
};

// Decodes a record from JSON text.
template <class T>
Decoded<T> decodeText(std::string_view text) {
    auto parsed = parse(text);
    if (!parsed) return std::unexpected(parsed.error());
    return T::decode(*parsed);
}

// Writes an optional only when present.
template <class T>
void putOptional(Json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

}  // namespace desktop::json
