// A draft read from another app's element exactly as the app will send it: its Text with each
// embedded object (U+FFFC) expanded in place, recursively, block objects on lines of their own; an
// element without Text shows its children line by line. Main thread; bounded in characters and
// time, because the Send key waits on the read. Used by the accessibility service.
#pragma once

#include <atspi/atspi.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>

typedef struct _GDBusConnection GDBusConnection;

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

// The lines of a rich text asked about all at once, over a connection of our own to the
// accessibility bus (libatspi asks one question at a time). A line's role and layout never change
// and are asked once: an app answers each question in turn, and the layout is its slowest answer.
struct LineQuestions {
    GDBusConnection* bus = nullptr;
    struct Layout {
        AtspiRole role;
        std::optional<std::string> display;
    };
    // By bus name and object path; bus names are never reused while the bus runs.
    std::map<std::pair<std::string, std::string>, Layout> layouts;
};

// None when nothing answers.
std::optional<TextRead> readDraft(AtspiAccessible* box, LineQuestions* lines = nullptr);

}  // namespace desktop::x11
