// The check engine: the records a check produces, the host that runs the JavaScript rule scripts,
// and the merge of local and service findings. Main thread only (one context per Engine).
// The application delegate owns the one Engine and shares it with the watcher and the gate.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Desktop/Json.h"

namespace kestrel {

using desktop::json::Decoded;
using desktop::json::Json;

struct Finding {
    std::string id;
    std::string level;
    std::string title;
    std::optional<std::string> detail;
    std::optional<std::string> original;
    std::optional<std::string> suggestion;
    std::optional<int64_t> occurrence;

    // Identifies one finding within one draft: "id:original:occurrence".
    std::string key() const;

    static Decoded<Finding> decode(const Json& json);
    Json encode() const;
    bool operator==(const Finding&) const = default;
};

struct SlopSummary {
    std::string level;
    int64_t tells = 0;
    std::vector<std::string> cats;

    static Decoded<SlopSummary> decode(const Json& json);
    Json encode() const;
    bool operator==(const SlopSummary&) const = default;
};

struct LocalResult {
    std::vector<Finding> findings;
    std::optional<SlopSummary> slop;
    bool tooShort = true;

    // No findings, no slop, too short: before the first check and whenever a check fails.
    static const LocalResult empty;

    static Decoded<LocalResult> decode(const Json& json);
    Json encode() const;
    bool operator==(const LocalResult&) const = default;
};

struct ChannelInfo {
    std::string ai;
    bool gate = true;
    std::string label;

    static Decoded<ChannelInfo> decode(const Json& json);
    Json encode() const;
    bool operator==(const ChannelInfo&) const = default;
};

struct ScoreResult {
    std::optional<int64_t> voiceScore;
    std::optional<int64_t> slopScore;
    std::optional<std::vector<Finding>> findings;
    std::optional<bool> aiLimited;

    static Decoded<ScoreResult> decode(const Json& json);
    Json encode() const;
    bool operator==(const ScoreResult&) const = default;
};

// One finding per rule id, local findings first; a finding that points at a span wins.
std::vector<Finding> mergeFindings(const std::vector<Finding>& first,
                                   const std::vector<Finding>& second);

struct EngineError {
    enum class Kind { missingScript, noContext, glueFailed };
    Kind kind;
    std::string path;  // missingScript only

    // The case name; missingScript("PATH") with its path.
    std::string text() const;
    bool operator==(const EngineError&) const = default;
};

class Engine {
public:
    // Scripts, loaded in this order from the scripts directory.
    static constexpr const char* kScripts[] = {"rules.js", "slop.js", "policy.js"};
    // The scripts run on the typing path: a runaway script is stopped and answers the fallback.
    static constexpr double kLoadTimeLimit = 1.0;
    static constexpr double kCallTimeLimit = 0.25;

    static std::expected<std::shared_ptr<Engine>, EngineError> create(
        const std::filesystem::path& scriptsDirectory);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // A check that the time limit cut off answers unchecked(): a risk, so that a draft too long to
    // check is never passed as clean. Every other failure answers LocalResult::empty.
    LocalResult check(std::string_view text, std::string_view channel);
    ChannelInfo channelInfo(std::string_view channel);

    // The rule id of the one finding of a check that ran out of time.
    static constexpr const char* kUncheckedId = "unchecked";
    static LocalResult unchecked();

    // The glue text that defines the two global entry points.
    static std::string_view glue();

private:
    struct Context;
    explicit Engine(std::unique_ptr<Context> context);
    enum class CallFailure { failed, timedOut };
    using Answer = std::expected<std::string, CallFailure>;
    // The string form of the function's answer.
    Answer call(const char* function, std::initializer_list<std::string_view> arguments);
    std::unique_ptr<Context> context_;
};

}  // namespace kestrel
