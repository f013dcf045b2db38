// Unicode helpers over UTF-8 strings: transcoding for the script engine, user-perceived
// characters (grapheme clusters) and character categories. Any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace desktop::unicode {

bool isValidUtf8(std::string_view text);
// The text with every invalid byte replaced by U+FFFD.
std::string replacingInvalid(std::string_view text);
// Invalid bytes become U+FFFD; NUL characters are kept.
std::u16string toUtf16(std::string_view utf8);
// Lone surrogates become U+FFFD.
std::string toUtf8(std::u16string_view utf16);
// Grapheme clusters; invalid bytes count one each.
size_t graphemeCount(std::string_view utf8);
// The first `count` grapheme clusters.
std::string graphemePrefix(std::string_view utf8, size_t count);
bool isWhitespace(char32_t c);
// The text without white space and line breaks (isWhitespace) at either end.
std::string trimWhitespace(std::string_view utf8);
bool isNumeric(char32_t c);
// Appends one code point in UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);
// Code points of the text; invalid bytes become U+FFFD.
std::u32string codePoints(std::string_view utf8);

}  // namespace desktop::unicode
