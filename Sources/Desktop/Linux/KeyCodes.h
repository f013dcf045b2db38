// X keysyms and modifier state translated into the layer's key events, whose key codes and flags
// are the ones the application's chords are written in. Pure functions, any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

typedef struct _XDisplay Display;

namespace desktop::x11 {

// The X modifier bits that carry Alt, Super, Num Lock and the level shifts (AltGr, Mode_switch,
// Level 5) on this server (Mod1, Mod4, Mod2 and Mod5 on nearly every keyboard map), and a key that
// sets each of the eight bits.
struct ModifierMasks {
    unsigned alt = 1u << 3;          // Mod1
    unsigned super = 1u << 6;        // Mod4
    unsigned numLock = 1u << 4;      // Mod2
    unsigned levelShifts = 1u << 7;  // Mod5
    std::array<unsigned char, 8> keys{};
    static ModifierMasks read(Display* display);
    bool operator==(const ModifierMasks&) const = default;

    // The bits a chord is told apart by: Shift, Control, Alt and Super.
    unsigned counted() const;
    // The bits that never tell chords apart: Caps Lock, Num Lock and the level shifts.
    unsigned ignored() const;
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
