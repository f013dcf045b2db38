// The words of one scenario line, and a reader of a command's arguments that remembers the first
// thing wrong with them. Plain values; any thread.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scenario {

struct Word {
    std::string text;
    bool quoted = false;
};

// Splits on spaces; "..." is one word with the escapes \" \\ \n \t. Fails on an unterminated
// string or an unknown escape.
std::expected<std::vector<Word>, std::string> splitWords(std::string_view line);

// TEXT as a script writes it: in double quotes with JSON's escapes. Never fails: bytes that are
// not UTF-8 show as U+FFFD.
std::string quote(std::string_view text);

// The first `count` bare words, then the rest of the line as it stands (trimmed) as one last
// word: for commands whose tail is raw text such as JSON.
std::vector<Word> splitRawTail(std::string_view line, size_t count);

// Reads arguments in order. A read that fails records why and answers an empty value; finish()
// reports the first failure, or words left over.
class Args {
public:
    explicit Args(std::vector<Word> words) : words_(std::move(words)) {}

    bool atEnd() const { return next_ >= words_.size(); }
    // A bare word.
    std::string word(std::string_view what);
    // A quoted string.
    std::string text(std::string_view what);
    // A finite decimal number.
    double number(std::string_view what);
    // "on" or "off" (or the given pair).
    bool toggle(std::string_view what, std::string_view yes = "on", std::string_view no = "off");
    // Every remaining word.
    std::vector<Word> rest();
    // The first failure, or unexpected words at the end.
    std::optional<std::string> finish() const;

private:
    const Word* take(std::string_view what);
    void fail(std::string message);

    std::vector<Word> words_;
    size_t next_ = 0;
    std::optional<std::string> error_;
};

}  // namespace scenario
