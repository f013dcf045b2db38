// A keyboard event as it travels through event taps. Plain value.
#pragma once

#include <cstdint>

namespace desktop {

enum class KeyEventType { keyDown, keyUp, flagsChanged, tapDisabledByTimeout, tapDisabledByUserInput };

namespace keyflags {
inline constexpr uint64_t capsLock = 0x10000;
inline constexpr uint64_t shift = 0x20000;
inline constexpr uint64_t control = 0x40000;
inline constexpr uint64_t option = 0x80000;
inline constexpr uint64_t command = 0x100000;
inline constexpr uint64_t numericPad = 0x200000;
inline constexpr uint64_t function = 0x800000;
}  // namespace keyflags

struct KeyEvent {
    KeyEventType type = KeyEventType::keyDown;
    int64_t keyCode = 0;
    uint64_t flags = 0;
    int64_t sourceUserData = 0;

    bool operator==(const KeyEvent&) const = default;
};

// A key-down with exactly these modifiers (the shift, control, option and command flags).
struct KeyCombo {
    int64_t keyCode = 0;
    uint64_t modifiers = 0;
    bool operator==(const KeyCombo&) const = default;
};

}  // namespace desktop
