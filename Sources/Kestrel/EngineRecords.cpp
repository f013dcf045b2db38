#include <unordered_map>

#include "Kestrel/Engine.h"

namespace kestrel {

using desktop::json::ObjectReader;
using desktop::json::putOptional;

std::string Finding::key() const {
    return id + ":" + original.value_or("") + ":" + std::to_string(occurrence.value_or(0));
}

Decoded<Finding> Finding::decode(const Json& json) {
    ObjectReader r(json);
    Finding f;
    r.required("id", f.id);
    r.required("level", f.level);
    r.required("title", f.title);
    r.optional("detail", f.detail);
    r.optional("original", f.original);
    r.optional("suggestion", f.suggestion);
    r.optional("occurrence", f.occurrence);
    return r.finish(std::move(f));
}

Json Finding::encode() const {
    Json j = {{"id", id}, {"level", level}, {"title", title}};
    putOptional(j, "detail", detail);
    putOptional(j, "original", original);
    putOptional(j, "suggestion", suggestion);
    putOptional(j, "occurrence", occurrence);
    return j;
}

Decoded<SlopSummary> SlopSummary::decode(const Json& json) {
    ObjectReader r(json);
    SlopSummary s;
    r.required("level", s.level);
    r.required("tells", s.tells);
    r.required("cats", s.cats);
    return r.finish(std::move(s));
}

Json SlopSummary::encode() const { return {{"level", level}, {"tells", tells}, {"cats", cats}}; }

const LocalResult LocalResult::empty{};

Decoded<LocalResult> LocalResult::decode(const Json& json) {
    ObjectReader r(json);
    LocalResult l;
    r.requiredRecords("findings", l.findings);
    r.optionalRecord("slop", l.slop);
    r.required("tooShort", l.tooShort);
    return r.finish(std::move(l));
}

namespace {
Json encodeAll(const std::vector<Finding>& findings) {
    Json array = Json::array();
    for (const auto& f : findings) array.push_back(f.encode());
    return array;
}
}  // namespace

Json LocalResult::encode() const {
    Json j = {{"findings", encodeAll(findings)}, {"tooShort", tooShort}};
    if (slop) j["slop"] = slop->encode();
    return j;
}

Decoded<ChannelInfo> ChannelInfo::decode(const Json& json) {
    ObjectReader r(json);
    ChannelInfo c;
    r.required("ai", c.ai);
    r.required("gate", c.gate);
    r.required("label", c.label);
    return r.finish(std::move(c));
}

Json ChannelInfo::encode() const { return {{"ai", ai}, {"gate", gate}, {"label", label}}; }

Decoded<ScoreResult> ScoreResult::decode(const Json& json) {
    ObjectReader r(json);
    ScoreResult s;
    r.optional("voiceScore", s.voiceScore);
    r.optional("slopScore", s.slopScore);
    r.optionalRecords("findings", s.findings);
    r.optional("aiLimited", s.aiLimited);
    return r.finish(std::move(s));
}

Json ScoreResult::encode() const {
    Json j = Json::object();
    putOptional(j, "voiceScore", voiceScore);
    putOptional(j, "slopScore", slopScore);
    if (findings) j["findings"] = encodeAll(*findings);
    putOptional(j, "aiLimited", aiLimited);
    return j;
}

std::vector<Finding> mergeFindings(const std::vector<Finding>& first,
                                   const std::vector<Finding>& second) {
    // Index into `merged` per rule id, keyed by views into the inputs, which outlive the call.
    std::unordered_map<std::string_view, size_t> chosen;
    std::vector<Finding> merged;
    chosen.reserve(first.size() + second.size());
    merged.reserve(first.size() + second.size());
    auto consider = [&](const Finding& f) {
        auto it = chosen.find(f.id);
        if (it == chosen.end()) {
            merged.push_back(f);
            chosen.emplace(f.id, merged.size() - 1);
        } else if (!merged[it->second].original && f.original) {
            merged[it->second] = f;
        }
    };
    for (const auto& f : first) consider(f);
    for (const auto& f : second) consider(f);
    return merged;
}

}  // namespace kestrel
