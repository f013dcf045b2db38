// The system symbols our views and status item name, as the nearest icon of the freedesktop
// icon theme and a glyph drawn as text where the theme lacks it. Any thread.
#pragma once

#include <string_view>

namespace desktop::x11 {

struct SymbolLook {
    const char* iconName;  // a symbolic icon of the theme
    const char* glyph;     // UTF-8 text of the same meaning
};

// Unknown names answer a neutral dot.
SymbolLook symbolLook(std::string_view systemSymbol);

}  // namespace desktop::x11
