#include "Kestrel/Engine.h"

#include <JavaScriptCore/JavaScript.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "Desktop/Desktop.h"
#include "Desktop/Unicode.h"

// Exported by the library, declared in a header that is not installed.
extern "C" {
typedef bool (*JSShouldTerminateCallback)(JSContextRef ctx, void* context);
void JSContextGroupSetExecutionTimeLimit(JSContextGroupRef group, double limit,
                                         JSShouldTerminateCallback callback, void* context);
}

namespace kestrel {

namespace {

constexpr std::string_view kGlue =
    "globalThis.kestrelCheck = function (text, channel) {\n"
    "  var P = KestrelPolicy, R = KestrelRules, S = KestrelSlop;\n"
    "  var msg = { subject: '', body: text, channel: channel, recipients: [], hasAttachment: "
    "false };\n"
    "  var slop = S.lint(text);\n"
    "  var scoped = P.apply(channel, R.runRules(msg).concat(slop.findings || []));\n"
    "  return JSON.stringify({\n"
    "    findings: scoped,\n"
    "    slop: { level: slop.level, tells: slop.tells, cats: slop.cats },\n"
    "    tooShort: P.tooShort(channel, text, scoped)\n"
    "  });\n"
    "};\n"
    "globalThis.kestrelChannelInfo = function (channel) {\n"
    "  var P = KestrelPolicy;\n"
    "  return JSON.stringify({ ai: P.aiMode(channel), gate: P.gates(channel), label: "
    "P.label(channel) });\n"
    "};";

// Owns a JSStringRef.
class JSString {
public:
    explicit JSString(JSStringRef ref) : ref_(ref) {}
    explicit JSString(std::string_view utf8) {
        // JavaScriptCore keeps ASCII text at one byte a character, which its string functions
        // and regular expressions read markedly faster; only the C-string form asks for that,
        // so text holding NUL takes the UTF-16 form.
        if (std::ranges::all_of(utf8, [](char c) { return c > 0; })) {
            ref_ = JSStringCreateWithUTF8CString(std::string(utf8).c_str());
            return;
        }
        auto utf16 = desktop::unicode::toUtf16(utf8);
        ref_ = JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(utf16.data()),
                                            utf16.size());
    }
    ~JSString() {
        if (ref_) JSStringRelease(ref_);
    }
    JSString(const JSString&) = delete;
    JSString& operator=(const JSString&) = delete;
    JSStringRef get() const { return ref_; }

    std::string utf8() const {
        const JSChar* chars = JSStringGetCharactersPtr(ref_);
        return desktop::unicode::toUtf8(
            std::u16string_view(reinterpret_cast<const char16_t*>(chars), JSStringGetLength(ref_)));
    }

private:
    JSStringRef ref_ = nullptr;
};

// The string form of a value; absent when it has none (e.g. after a forced termination).
std::optional<std::string> stringForm(JSContextRef ctx, JSValueRef value) {
    if (!value) return std::nullopt;
    JSStringRef ref = JSValueToStringCopy(ctx, value, nullptr);
    if (!ref) return std::nullopt;
    return JSString(ref).utf8();
}

std::optional<std::string> readUtf8File(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return std::nullopt;
    std::string text = buffer.str();
    if (!desktop::unicode::isValidUtf8(text)) return std::nullopt;
    return text;
}

}  // namespace

struct Engine::Context {
    JSContextGroupRef group = nullptr;
    JSGlobalContextRef ctx = nullptr;
    // Set when the time limit stopped a script, so a call can tell a cut-off check from a failure.
    bool timedOut = false;
    ~Context() {
        if (ctx) JSGlobalContextRelease(ctx);
        if (group) JSContextGroupRelease(group);
    }

    // Every uncaught exception, at load time and in calls, is logged and yields no value.
    void report(JSValueRef exception) const {
        desktop::current().log().write("Kestrel engine: " +
                                       stringForm(ctx, exception).value_or("unknown error"));
    }

    void evaluate(std::string_view source, const std::optional<std::string>& sourceURL) const {
        JSString script(source);
        std::optional<JSString> url;
        if (sourceURL) url.emplace(*sourceURL);
        JSValueRef exception = nullptr;
        JSEvaluateScript(ctx, script.get(), nullptr, url ? url->get() : nullptr, 1, &exception);
        if (exception) report(exception);
    }

    void setTimeLimit(double seconds) {
        JSContextGroupSetExecutionTimeLimit(
            group, seconds,
            [](JSContextRef, void* self) {
                static_cast<Context*>(self)->timedOut = true;
                return true;
            },
            this);
    }

    JSObjectRef globalFunction(const char* name) const {
        JSString key(name);
        JSValueRef exception = nullptr;
        JSValueRef value =
            JSObjectGetProperty(ctx, JSContextGetGlobalObject(ctx), key.get(), &exception);
        if (exception) {
            report(exception);
            return nullptr;
        }
        if (!value || !JSValueIsObject(ctx, value)) return nullptr;
        return JSValueToObject(ctx, value, nullptr);
    }
};

std::string_view Engine::glue() { return kGlue; }

std::string EngineError::text() const {
    switch (kind) {
        case Kind::missingScript: return "missingScript(\"" + path + "\")";
        case Kind::noContext: return "noContext";
        case Kind::glueFailed: return "glueFailed";
    }
    return "unknown";
}

std::expected<std::shared_ptr<Engine>, EngineError> Engine::create(
    const std::filesystem::path& scriptsDirectory) {
    auto context = std::make_unique<Context>();
    context->group = JSContextGroupCreate();
    if (context->group) context->ctx = JSGlobalContextCreateInGroup(context->group, nullptr);
    if (!context->ctx) return std::unexpected(EngineError{EngineError::Kind::noContext, {}});

    context->setTimeLimit(kLoadTimeLimit);
    for (const char* name : kScripts) {
        auto path = scriptsDirectory / name;
        auto source = readUtf8File(path);
        if (!source)
            return std::unexpected(EngineError{EngineError::Kind::missingScript, path.string()});
        context->evaluate(*source, "file://" + path.string());
    }
    context->evaluate(kGlue, std::nullopt);
    if (!context->globalFunction("kestrelCheck"))
        return std::unexpected(EngineError{EngineError::Kind::glueFailed, {}});
    context->setTimeLimit(kCallTimeLimit);
    return std::shared_ptr<Engine>(new Engine(std::move(context)));
}

Engine::Engine(std::unique_ptr<Context> context) : context_(std::move(context)) {}
Engine::~Engine() = default;

Engine::Answer Engine::call(const char* function, std::initializer_list<std::string_view> arguments) {
    context_->timedOut = false;
    JSObjectRef fn = context_->globalFunction(function);
    if (!fn || !JSObjectIsFunction(context_->ctx, fn)) return std::unexpected(CallFailure::failed);
    std::vector<JSValueRef> values;
    for (auto argument : arguments) {
        JSString s(argument);
        values.push_back(JSValueMakeString(context_->ctx, s.get()));
    }
    JSValueRef exception = nullptr;
    JSValueRef result = JSObjectCallAsFunction(context_->ctx, fn, nullptr, values.size(),
                                               values.data(), &exception);
    if (exception) context_->report(exception);
    if (context_->timedOut) return std::unexpected(CallFailure::timedOut);
    if (exception) return std::unexpected(CallFailure::failed);
    auto text = stringForm(context_->ctx, result);
    if (!text) return std::unexpected(CallFailure::failed);
    return std::move(*text);
}

LocalResult Engine::check(std::string_view text, std::string_view channel) {
    auto answer = call("kestrelCheck", {text, channel});
    if (!answer && answer.error() == CallFailure::timedOut) return unchecked();
    if (!answer) return LocalResult::empty;
    return desktop::json::decodeText<LocalResult>(*answer).value_or(LocalResult::empty);
}

LocalResult Engine::unchecked() {
    Finding finding;
    finding.id = kUncheckedId;
    finding.level = "risk";
    finding.title = "Not fully checked";
    finding.detail =
        "The draft was too long to check completely; a risk may be hidden in the part left unchecked.";
    return LocalResult{{std::move(finding)}, std::nullopt, false};
}

ChannelInfo Engine::channelInfo(std::string_view channel) {
    auto fallback = ChannelInfo{"live", true, std::string(channel)};
    auto answer = call("kestrelChannelInfo", {channel});
    if (!answer) return fallback;
    return desktop::json::decodeText<ChannelInfo>(*answer).value_or(fallback);
}

}  // namespace kestrel
