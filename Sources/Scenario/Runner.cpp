#include "Scenario/Runner.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iostream>

#include "Desktop/Json.h"
#include "Desktop/Unicode.h"
#include "DevServer/DevBackend.h"
#include "Kestrel/API.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/App.h"
#include "Kestrel/Draft.h"
#include "Scenario/SimDriver.h"

namespace scenario {

namespace {

using Problem = Runner::Problem;

Problem scriptError(std::string message) { return Problem{true, std::move(message)}; }
Problem failed(std::string message) { return Problem{false, std::move(message)}; }
// Real seconds between two looks at an expectation that has not come true yet.
constexpr double kRetryInterval = 0.05;

// How a property value is compared and shown: true/false, numbers, text, lists as a,b.
std::string valueText(const nlohmann::json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
    if (value.is_array()) {
        std::string joined;
        for (const auto& item : value) {
            if (!joined.empty()) joined += ',';
            joined += valueText(item);
        }
        return joined;
    }
    return desktop::json::dump(value);
}

std::string joinIds(const std::vector<kestrel::Finding>& findings, bool withLevels = false) {
    std::string joined;
    for (const auto& finding : findings) {
        if (!joined.empty()) joined += ',';
        joined += finding.id;
        if (withLevels) joined += "(" + finding.level + ")";
    }
    return joined.empty() ? "none" : joined;
}

desktop::DefaultValue defaultValue(const Word& word) {
    if (word.quoted) return word.text;
    if (word.text == "true") return true;
    if (word.text == "false") return false;
    const char* first = word.text.data();
    const char* last = first + word.text.size();
    int64_t integer = 0;
    if (auto [end, ec] = std::from_chars(first, last, integer); ec == std::errc() && end == last)
        return integer;
    double number = 0;
    if (auto [end, ec] = std::from_chars(first, last, number);
        ec == std::errc() && end == last && std::isfinite(number))
        return number;
    return word.text;
}

}  // namespace

const std::map<std::string, Runner::Command, std::less<>>& Runner::commands() {
    static const std::map<std::string, Command, std::less<>> table = {
        {"launch", {&Runner::launch, false}},
        {"screen", {&Runner::screen, false}},
        {"trust", {&Runner::trust, false}},
        {"default", {&Runner::setDefault, false}},
        {"app", {&Runner::app, true}},
        {"field", {&Runner::field, true}},
        {"type", {&Runner::type, true}},
        {"set", {&Runner::set, true}},
        {"readonly", {&Runner::readonly, true}},
        {"key", {&Runner::key, true}},
        {"wait", {&Runner::wait, true}},
        {"click", {&Runner::click, true}},
        {"fill", {&Runner::fill, true}},
        {"submit", {&Runner::submit, true}},
        {"show", {&Runner::show, true}},
        {"expect", {&Runner::expect, true}},
        {"menu", {&Runner::menu, true}},
        {"backend", {&Runner::backend, false}},
        {"help", {&Runner::help, false}},
        {"quit", {&Runner::quit, false}},
    };
    return table;
}

const std::map<std::string, Runner::Handler, std::less<>>& Runner::expectations() {
    static const std::map<std::string, Handler, std::less<>> table = {
        {"sent", &Runner::expectSent},         {"unsent", &Runner::expectUnsent},
        {"field", &Runner::expectField},       {"findings", &Runner::expectFindings},
        {"risks", &Runner::expectRisks},       {"event", &Runner::expectEvent},
        {"noevent", &Runner::expectNoEvent},   {"log", &Runner::expectLog},
        {"panel", &Runner::expectPanel},       {"gating", &Runner::expectGating},
        {"notice", &Runner::expectNotice},     {"shows", &Runner::expectShows},
        {"pill", &Runner::expectPill},         {"clipboard", &Runner::expectClipboard},
        {"icon", &Runner::expectIcon},         {"tooltip", &Runner::expectTooltip},
        {"signedin", &Runner::expectSignedIn}, {"menu", &Runner::expectMenu},
        {"nomenu", &Runner::expectNoMenu},
    };
    return table;
}

const std::map<std::string, Runner::Handler, std::less<>>& Runner::shows() {
    static const std::map<std::string, Handler, std::less<>> table = {
        {"state", &Runner::showState},
        {"events", &Runner::showEvents},
        {"log", &Runner::showLog},
        {"panel", &Runner::showPanel},
        {"pill", &Runner::showPill},
        {"windows", &Runner::showWindows},
        {"menu", &Runner::showMenu},
        {"signin", &Runner::showSignIn},
        {"backend", &Runner::showBackend},
    };
    return table;
}

Runner::Outcome Runner::asScriptError(Done done) {
    if (!done) return std::nullopt;
    return scriptError(std::move(*done));
}

Runner::Runner(std::ostream& out, Options options)
    : Runner(out, std::make_unique<SimDriver>(SimDriver::Options{
                      options.resourceDirectory,
                      desktop::sim::SimOptions{options.clock, options.stateDirectory, options.echoLog}})) {}

Runner::Runner(std::ostream& out, std::unique_ptr<Driver> driver)
    : out_(out), driver_(std::move(driver)), installed_(driver_->desktop()) {
    kestrel::KestrelAPI::resetShared();
    tracking_ = kestrel::Analytics::observeTracks(
        [this](const std::string& name, const nlohmann::json& kept) { events_.push_back({name, kept}); });
}

Runner::~Runner() {
    // The run is over: requests in flight end now instead of at their timeouts, and what they
    // post back to this desktop's main queue is drained before the application goes.
    driver_->desktop().http().shutDown();
    driver_->settle(kSettleLimit);
    app_.reset();
    kestrel::KestrelAPI::resetShared();
    if (backend_) kestrel::Analytics::setEndpoints(std::nullopt);
}

int Runner::run(std::istream& script) {
    bool anyFailed = false;
    std::string line;
    for (int number = 1; std::getline(script, line); ++number) {
        auto first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        auto command = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
        out_ << "> " << desktop::unicode::replacingInvalid(command) << '\n';
        auto problem = execute(command);
        if (!problem) continue;
        if (problem->skipped) {
            out_ << "SKIP line " << number << ": " << problem->message << '\n';
            return kSkipped;
        }
        if (problem->scriptError) {
            out_ << "ERROR line " << number << ": " << problem->message << '\n';
            return kScriptError;
        }
        out_ << "FAIL line " << number << ": " << command << ": " << problem->message << '\n';
        anyFailed = true;
    }
    return anyFailed ? kFailed : kPassed;
}

Runner::Outcome Runner::execute(const std::string& line) {
    // The stand-in's canned answer is raw JSON, spaces and quotes included.
    auto words = line.starts_with("backend reply ")
                     ? std::expected<std::vector<Word>, std::string>(splitRawTail(line, 4))
                     : splitWords(line);
    if (!words) return scriptError(words.error());
    if (words->empty()) return std::nullopt;
    auto name = words->front();
    auto command = commands().find(name.text);
    if (name.quoted || command == commands().end())
        return scriptError("unknown command " + quote(name.text));
    if (auto reason = driver_->unsupported(name.text)) return Problem{true, *reason, true};
    if (command->second.needsLaunch && !app_) launchApplication();
    Args args(std::vector<Word>(words->begin() + 1, words->end()));
    auto outcome = (this->*command->second.handler)(args);
    driver_->drain();
    return outcome;
}

Runner::Outcome Runner::launch(Args& args) {
    if (auto bad = args.finish()) return scriptError(*bad);
    if (app_) return scriptError("the application is already running");
    launchApplication();
    return std::nullopt;
}

void Runner::launchApplication() {
    app_ = kestrel::AppDelegate::launch();
    if (driver_->terminated()) out_ << "  the application terminated\n";
}

Runner::Outcome Runner::screen(Args& args) {
    std::vector<double> numbers;
    while (!args.atEnd()) numbers.push_back(args.number("screen coordinate"));
    if (auto bad = args.finish()) return scriptError(*bad);
    return asScriptError(driver_->setScreens(numbers));
}

Runner::Outcome Runner::trust(Args& args) {
    bool trusted = args.toggle("trust");
    if (auto bad = args.finish()) return scriptError(*bad);
    return asScriptError(driver_->setTrusted(trusted));
}

Runner::Outcome Runner::setDefault(Args& args) {
    auto key = args.word("key");
    auto value = args.rest();
    if (auto bad = args.finish()) return scriptError(*bad);
    if (value.size() != 1) return scriptError("default takes KEY VALUE");
    driver_->desktop().defaults().set(key, defaultValue(value[0]));
    return std::nullopt;
}

Runner::Outcome Runner::app(Args& args) {
    auto name = args.word("app name");
    if (auto bad = args.finish()) return scriptError(*bad);
    return asScriptError(driver_->bringToFront(name));
}

Runner::Outcome Runner::field(Args& args) {
    auto role = args.word("role");
    std::optional<desktop::Rect> frame;
    if (!args.atEnd()) {
        frame = desktop::Rect{};
        frame->origin = {args.number("x"), args.number("y")};
        frame->size = {args.number("width"), args.number("height")};
    }
    if (auto bad = args.finish()) return scriptError(*bad);
    return asScriptError(driver_->focusField(role, frame));
}

Runner::Outcome Runner::type(Args& args) {
    auto text = args.text("text");
    if (auto bad = args.finish()) return scriptError(*bad);
    return asScriptError(driver_->type(text));
}

Runner::Outcome Runner::set(Args& args) {
    auto text = args.text("text");
    if (auto bad = args.finish()) return scriptError(*bad);
    return asScriptError(driver_->setText(text));
}

Runner::Outcome Runner::readonly(Args& args) {
    bool readOnly = args.toggle("readonly");
    if (auto bad = args.finish()) return scriptError(*bad);
    return asScriptError(driver_->setReadOnly(readOnly));
}

Runner::Outcome Runner::key(Args& args) {
    auto chord = args.word("key chord");
    if (auto bad = args.finish()) return scriptError(*bad);
    auto pressed = driver_->pressKey(chord);
    if (!pressed) return scriptError(pressed.error());
    for (const auto& line : *pressed) out_ << "  " << line << '\n';
    return std::nullopt;
}

Runner::Outcome Runner::wait(Args& args) {
    double seconds = args.number("seconds");
    if (auto bad = args.finish()) return scriptError(*bad);
    if (seconds < 0) return scriptError("cannot wait a negative time");
    if (seconds > kLongestWait) return scriptError("cannot wait longer than a day");
    driver_->wait(seconds);
    return std::nullopt;
}

Runner::Outcome Runner::show(Args& args) {
    auto what = args.word("what to show");
    auto handler = shows().find(what);
    if (handler == shows().end()) return scriptError("cannot show " + quote(what));
    return (this->*handler->second)(args);
}

Runner::Outcome Runner::showState(Args& args) {
    if (auto bad = args.finish()) return scriptError(*bad);
    const auto& state = *app_->state();
    out_ << "  app: " << (state.app() ? state.app()->name : "none") << '\n'
         << "  text: " << quote(state.text()) << '\n'
         << "  findings: " << joinIds(state.findings(), true) << '\n'
         << "  risks: " << joinIds(state.risks()) << '\n'
         << "  ai: " << (state.ai() ? joinIds(state.ai()->findings.value_or(std::vector<kestrel::Finding>{}))
                                    : std::string("none"))
         << '\n'
         << "  aiPending: " << (state.aiPending() ? "true" : "false") << '\n';
    return std::nullopt;
}

Runner::Outcome Runner::showEvents(Args& args) {
    if (auto bad = args.finish()) return scriptError(*bad);
    for (const auto& event : events_)
        out_ << "  " << event.name << ' ' << desktop::json::dump(event.properties) << '\n';
    return std::nullopt;
}

Runner::Outcome Runner::showLog(Args& args) {
    if (auto bad = args.finish()) return scriptError(*bad);
    for (const auto& line : driver_->logLines()) out_ << "  " << line << '\n';
    return std::nullopt;
}

Runner::Outcome Runner::expect(Args& args) {
    auto what = args.word("expectation");
    auto handler = expectations().find(what);
    if (handler == expectations().end()) return scriptError("unknown expectation " + quote(what));
    // Where the desktop runs in real time, what a command set going may take a while to show.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(driver_->patience());
    for (;;) {
        auto cursors = std::pair(eventCursors_, sentCursors_);
        Args attempt = args;
        auto outcome = (this->*handler->second)(attempt);
        if (!outcome || outcome->scriptError || std::chrono::steady_clock::now() >= deadline) return outcome;
        std::tie(eventCursors_, sentCursors_) = cursors;
        driver_->wait(kRetryInterval);
    }
}

Runner::Outcome Runner::expectSent(Args& args) {
    auto app = args.word("app name");
    auto text = args.text("message");
    if (auto bad = args.finish()) return scriptError(*bad);
    auto sent = driver_->sent(app);
    if (!sent) return scriptError(sent.error());
    sentCursors_[app] = sent->size();
    if (sent->empty()) return failed("nothing was sent");
    if (sent->back() != text) return failed("last sent " + quote(sent->back()));
    return std::nullopt;
}

Runner::Outcome Runner::expectUnsent(Args& args) {
    auto app = args.word("app name");
    if (auto bad = args.finish()) return scriptError(*bad);
    auto sent = driver_->sent(app);
    if (!sent) return scriptError(sent.error());
    if (sent->size() > sentCursors_[app]) return failed("sent " + quote(sent->back()));
    return std::nullopt;
}

Runner::Outcome Runner::expectField(Args& args) {
    auto text = args.text("text");
    if (auto bad = args.finish()) return scriptError(*bad);
    auto actual = driver_->focusedText();
    if (!actual) return failed("no focused text field");
    if (*actual != text) return failed("the field holds " + quote(*actual));
    return std::nullopt;
}

Runner::Outcome Runner::expectFindingIds(Args& args, bool risksOnly) {
    auto expected = args.word("ids or none");
    if (auto bad = args.finish()) return scriptError(*bad);
    auto actual = joinIds(risksOnly ? app_->state()->risks() : app_->state()->findings());
    if (actual != expected) return failed(actual);
    return std::nullopt;
}

Runner::Outcome Runner::expectFindings(Args& args) { return expectFindingIds(args, false); }
Runner::Outcome Runner::expectRisks(Args& args) { return expectFindingIds(args, true); }

Runner::Outcome Runner::expectEvent(Args& args) {
    auto name = args.text("event name");
    std::vector<std::pair<std::string, std::string>> wanted;
    for (const auto& word : args.rest()) {
        auto equals = word.text.find('=');
        if (equals == std::string::npos || equals == 0)
            return scriptError("property " + quote(word.text) + " is not KEY=VALUE");
        // An app the desktop has no such app for goes by the name of the one standing in for it.
        wanted.emplace_back(word.text.substr(0, equals), driver_->platformName(word.text.substr(equals + 1)));
    }
    if (auto bad = args.finish()) return scriptError(*bad);
    auto& cursor = eventCursors_[name];
    auto from = std::exchange(cursor, events_.size());
    std::string seen;
    for (size_t i = from; i < events_.size(); ++i) {
        const auto& event = events_[i];
        if (event.name != name) continue;
        bool matches = std::all_of(wanted.begin(), wanted.end(), [&](const auto& property) {
            return event.properties.contains(property.first) &&
                   valueText(event.properties[property.first]) == property.second;
        });
        if (matches) return std::nullopt;
        seen += (seen.empty() ? "" : "; ") + desktop::json::dump(event.properties);
    }
    if (seen.empty()) return failed("no such event");
    return failed("saw it with " + seen);
}

Runner::Outcome Runner::expectNoEvent(Args& args) {
    auto name = args.text("event name");
    if (auto bad = args.finish()) return scriptError(*bad);
    auto from = std::exchange(eventCursors_[name], events_.size());
    for (size_t i = from; i < events_.size(); ++i) {
        if (events_[i].name == name)
            return failed("tracked with " + desktop::json::dump(events_[i].properties));
    }
    return std::nullopt;
}

Runner::Outcome Runner::expectLog(Args& args) {
    auto text = args.text("text");
    if (auto bad = args.finish()) return scriptError(*bad);
    auto lines = driver_->logLines();
    bool found = std::any_of(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(text) != std::string::npos; });
    if (!found) return failed(lines.empty() ? "the log is empty" : "last line " + quote(lines.back()));
    return std::nullopt;
}

int simulate(const std::string& path, std::ostream& out, Runner::Options options) {
    std::ifstream file;
    if (path != "-") {
        file.open(path);
        if (!file) {
            out << "ERROR line 0: cannot read " << quote(path) << '\n';
            return Runner::kScriptError;
        }
    }
    Runner runner(out, std::move(options));
    return runner.run(path == "-" ? std::cin : file);
}

int runScript(const std::string& path, std::ostream& out, std::unique_ptr<Driver> driver) {
    std::ifstream file(path);
    if (!file) {
        out << "ERROR line 0: cannot read " << quote(path) << '\n';
        return Runner::kScriptError;
    }
    Runner runner(out, std::move(driver));
    return runner.run(file);
}

}  // namespace scenario
