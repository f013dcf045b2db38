#include "Desktop/Unicode.h"

#include <utf8proc.h>

namespace desktop::unicode {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `i`, advancing it; invalid sequences give U+FFFD and skip one byte.
char32_t next(std::string_view s, size_t& i) {
    utf8proc_int32_t cp = 0;
    auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data() + i),
                              static_cast<utf8proc_ssize_t>(s.size() - i), &cp);
    if (n <= 0) {
        ++i;
        return kReplacement;
    }
    i += static_cast<size_t>(n);
    return static_cast<char32_t>(cp);
}

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
        return;
    }
    utf8proc_uint8_t buffer[4];
    auto n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(cp), buffer);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
}

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        utf8proc_int32_t cp = 0;
        auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + i),
                                  static_cast<utf8proc_ssize_t>(text.size() - i), &cp);
        if (n <= 0) return false;
        i += static_cast<size_t>(n);
    }
    return true;
}

std::string replacingInvalid(std::string_view text) {
    if (isValidUtf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size();) appendUtf8(out, next(text, i));
    return out;
}

std::u32string codePoints(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) out.push_back(next(utf8, i));
    return out;
}

std::u16string toUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t cp = next(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string toUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        appendUtf8(out, c);
    }
    return out;
}

namespace {
// Calls `boundary(byteOffset)` before each grapheme cluster; stops when it answers false.
template <class F>
void forEachCluster(std::string_view utf8, F boundary) {
    utf8proc_int32_t state = 0;
    char32_t previous = 0;
    bool first = true;
    for (size_t i = 0; i < utf8.size();) {
        size_t start = i;
        char32_t cp = next(utf8, i);
        bool breaks = first || utf8proc_grapheme_break_stateful(
                                   static_cast<utf8proc_int32_t>(previous),
                                   static_cast<utf8proc_int32_t>(cp), &state);
        if (breaks && !boundary(start)) return;
        previous = cp;
        first = false;
    }
}
}  // namespace

size_t graphemeCount(std::string_view utf8) {
    size_t count = 0;
    forEachCluster(utf8, [&](size_t) {
        ++count;
        return true;
    });
    return count;
}

std::string graphemePrefix(std::string_view utf8, size_t count) {
    size_t seen = 0, end = utf8.size();
    forEachCluster(utf8, [&](size_t offset) {
        if (seen == count) {
            end = offset;
            return false;
        }
        ++seen;
        return true;
    });
    return std::string(utf8.substr(0, end));
}

bool isWhitespace(char32_t c) {
    if (c == '\t' || c == '\n' || c == 0x0B || c == '\f' || c == '\r' || c == 0x85) return true;
    auto category = utf8proc_category(static_cast<utf8proc_int32_t>(c));
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
           category == UTF8PROC_CATEGORY_ZP;
}

std::string trimWhitespace(std::string_view utf8) {
    size_t start = utf8.size(), end = 0;
    for (size_t i = 0; i < utf8.size();) {
        size_t at = i;
        if (!isWhitespace(next(utf8, i))) {
            if (start == utf8.size()) start = at;
            end = i;
        }
    }
    if (start >= end) return {};
    return std::string(utf8.substr(start, end - start));
}

bool isNumeric(char32_t c) {
    auto category = utf8proc_category(static_cast<utf8proc_int32_t>(c));
    return category == UTF8PROC_CATEGORY_ND || category == UTF8PROC_CATEGORY_NL ||
           category == UTF8PROC_CATEGORY_NO;
}

}  // namespace desktop::unicode
