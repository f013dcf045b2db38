#include "Scenario/Script.h"

#include <charconv>
#include <cmath>

#include "Desktop/Json.h"

namespace scenario {

std::expected<std::vector<Word>, std::string> splitWords(std::string_view line) {
    std::vector<Word> words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        Word word;
        if (line[i] != '"') {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') word.text += line[i++];
            words.push_back(std::move(word));
            continue;
        }
        word.quoted = true;
        ++i;
        for (;;) {
            if (i >= line.size()) return std::unexpected("unterminated string");
            char c = line[i++];
            if (c == '"') break;
            if (c != '\\') {
                word.text += c;
                continue;
            }
            if (i >= line.size()) return std::unexpected("unterminated string");
            switch (char e = line[i++]) {
                case '"': word.text += '"'; break;
                case '\\': word.text += '\\'; break;
                case 'n': word.text += '\n'; break;
                case 't': word.text += '\t'; break;
                default: return std::unexpected(std::string("unknown escape \\") + e);
            }
        }
        if (i < line.size() && line[i] != ' ' && line[i] != '\t')
            return std::unexpected("text right after a closing quote");
        words.push_back(std::move(word));
    }
    return words;
}

std::string quote(std::string_view text) {
    return desktop::json::dump(desktop::json::Json(std::string(text)));
}

std::vector<Word> splitRawTail(std::string_view line, size_t count) {
    std::vector<Word> words;
    size_t i = 0;
    auto skipSpaces = [&] {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    };
    for (skipSpaces(); words.size() < count && i < line.size(); skipSpaces()) {
        Word word;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') word.text += line[i++];
        words.push_back(std::move(word));
    }
    auto tail = line.substr(i);
    while (!tail.empty() && (tail.back() == ' ' || tail.back() == '\t')) tail.remove_suffix(1);
    if (!tail.empty()) words.push_back(Word{std::string(tail), false});
    return words;
}

void Args::fail(std::string message) {
    if (!error_) error_ = std::move(message);
}

const Word* Args::take(std::string_view what) {
    if (atEnd()) {
        fail("missing " + std::string(what));
        return nullptr;
    }
    return &words_[next_++];
}

std::string Args::word(std::string_view what) {
    const Word* w = take(what);
    if (!w) return {};
    if (w->quoted) fail(std::string(what) + " must not be quoted");
    return w->text;
}

std::string Args::text(std::string_view what) {
    const Word* w = take(what);
    if (!w) return {};
    if (!w->quoted) fail(std::string(what) + " must be a quoted string");
    return w->text;
}

double Args::number(std::string_view what) {
    auto text = word(what);
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
        !std::isfinite(value)) {
        fail("bad " + std::string(what) + " " + quote(text));
        return 0;
    }
    return value;
}

bool Args::toggle(std::string_view what, std::string_view yes, std::string_view no) {
    auto text = word(what);
    if (text == yes) return true;
    if (text != no) fail(std::string(what) + " must be " + std::string(yes) + " or " + std::string(no));
    return false;
}

std::vector<Word> Args::rest() {
    std::vector<Word> remaining(words_.begin() + static_cast<std::ptrdiff_t>(std::min(next_, words_.size())),
                                words_.end());
    next_ = words_.size();
    return remaining;
}

std::optional<std::string> Args::finish() const {
    if (error_) return error_;
    if (!atEnd()) return "unexpected " + quote(words_[next_].text);
    return std::nullopt;
}

}  // namespace scenario
