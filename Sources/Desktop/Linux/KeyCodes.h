// X keysyms and modifier state translated into the layer's key events, whose key codes and flags
// are the ones the application's chords are written in. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>

typedef struct _XDisplay Display;

namespace desktop::x11 {

// The X modifier bits that carry Alt, Super and Num Lock on this server (Mod1, Mod4, Mod2 on
// nearly every keyboard map).
struct ModifierMasks {
    unsigned alt = 1u << 3;      // Mod1
    unsigned super = 1u << 6;    // Mod4
    unsigned numLock = 1u << 4;  // Mod2
    static ModifierMasks read(Display* display);
};

// The layer's key code for a keysym (letters in either case), and back; none for keys that no
// chord uses.
std::optional<int64_t> keyCodeForKeysym(unsigned long keysym);
std::optional<unsigned long> keysymForKeyCode(int64_t keyCode);

// Shift, Control, Alt → option, Super → command, Caps Lock; Num Lock and the rest are dropped.
uint64_t flagsForState(unsigned state, const ModifierMasks& masks);
// The X modifier bits for the shift, control, option and command flags.
unsigned stateForFlags(uint64_t flags, const ModifierMasks& masks);

}  // namespace desktop::x11
