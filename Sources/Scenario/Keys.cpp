#include "Scenario/Keys.h"

#include <map>
#include <string>

namespace scenario {

namespace {
// Virtual key codes of the US layout.
const std::map<std::string, int64_t, std::less<>>& keyCodes() {
    static const std::map<std::string, int64_t, std::less<>> codes = {
        {"return", 36}, {"enter", 76}, {"escape", 53}, {"tab", 48}, {"space", 49}, {"delete", 51},
        {"a", 0}, {"s", 1}, {"d", 2}, {"f", 3}, {"h", 4}, {"g", 5}, {"z", 6}, {"x", 7}, {"c", 8},
        {"v", 9}, {"b", 11}, {"q", 12}, {"w", 13}, {"e", 14}, {"r", 15}, {"y", 16}, {"t", 17},
        {"1", 18}, {"2", 19}, {"3", 20}, {"4", 21}, {"6", 22}, {"5", 23}, {"9", 25}, {"7", 26},
        {"8", 28}, {"0", 29}, {"o", 31}, {"u", 32}, {"i", 34}, {"p", 35}, {"l", 37}, {"j", 38},
        {"k", 40}, {"n", 45}, {"m", 46},
    };
    return codes;
}

std::optional<uint64_t> modifierFlag(std::string_view word) {
    namespace flags = desktop::keyflags;
    if (word == "cmd") return flags::command;
    if (word == "shift") return flags::shift;
    if (word == "opt") return flags::option;
    if (word == "ctrl") return flags::control;
    if (word == "caps") return flags::capsLock;
    return std::nullopt;
}
}  // namespace

std::optional<desktop::KeyEvent> parseChord(std::string_view chord) {
    desktop::KeyEvent event;
    for (;;) {
        auto plus = chord.find('+');
        if (plus == std::string_view::npos) break;
        auto flag = modifierFlag(chord.substr(0, plus));
        if (!flag) return std::nullopt;
        event.flags |= *flag;
        chord.remove_prefix(plus + 1);
    }
    auto code = keyCodes().find(chord);
    if (code == keyCodes().end()) return std::nullopt;
    event.keyCode = code->second;
    // The keypad's Enter carries the numeric-pad flag, as the hardware sends it.
    if (chord == "enter") event.flags |= desktop::keyflags::numericPad;
    return event;
}

}  // namespace scenario
