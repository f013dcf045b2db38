// A draft read from another app's element exactly as the app will send it: its Text with each
// embedded object (U+FFFC) expanded in place, recursively, block objects on lines of their own; an
// element without Text shows its children line by line. Main thread; bounded in characters and
// time, because the Send key waits on the read. Used by the accessibility service.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

typedef struct _AtspiAccessible AtspiAccessible;

namespace desktop::x11 {

// A draft is read up to this many characters and for at most this long. A longer or slower draft
// reads as cut off, and is never judged as complete.
inline constexpr int kMaxCharacters = 1 << 20;
inline constexpr double kReadTimeLimit = 0.3;

// A draft's text, and whether it was read to its end.
struct TextRead {
    std::string text;
    bool complete = true;
    // The text's characters; one more than that when cut off.
    size_t characters = 0;
};

// None when nothing answers.
std::optional<TextRead> readDraft(AtspiAccessible* box);

}  // namespace desktop::x11
