#include "Desktop/Linux/KeyCodes.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <array>
#include <memory>
#include <utility>

#include "Desktop/KeyEvent.h"

namespace desktop::x11 {

namespace {
// The platform's virtual key codes of the ANSI layout, by the keysym on the key.
constexpr std::array<std::pair<unsigned long, int64_t>, 52> kKeys = {{
    {XK_a, 0},  {XK_s, 1},  {XK_d, 2},  {XK_f, 3},  {XK_h, 4},  {XK_g, 5},  {XK_z, 6},  {XK_x, 7},
    {XK_c, 8},  {XK_v, 9},  {XK_b, 11}, {XK_q, 12}, {XK_w, 13}, {XK_e, 14}, {XK_r, 15}, {XK_y, 16},
    {XK_t, 17}, {XK_1, 18}, {XK_2, 19}, {XK_3, 20}, {XK_4, 21}, {XK_6, 22}, {XK_5, 23}, {XK_equal, 24},
    {XK_9, 25}, {XK_7, 26}, {XK_minus, 27}, {XK_8, 28}, {XK_0, 29}, {XK_bracketright, 30}, {XK_o, 31},
    {XK_u, 32}, {XK_bracketleft, 33}, {XK_i, 34}, {XK_p, 35}, {XK_Return, 36}, {XK_l, 37}, {XK_j, 38},
    {XK_apostrophe, 39}, {XK_k, 40}, {XK_semicolon, 41}, {XK_backslash, 42}, {XK_comma, 43},
    {XK_slash, 44}, {XK_n, 45}, {XK_m, 46}, {XK_period, 47}, {XK_Tab, 48}, {XK_space, 49},
    {XK_BackSpace, 51}, {XK_Escape, 53}, {XK_KP_Enter, 76},
}};
}  // namespace

ModifierMasks ModifierMasks::read(Display* display) {
    ModifierMasks masks;
    if (!display) return masks;
    std::unique_ptr<XModifierKeymap, decltype(&XFreeModifiermap)> map(XGetModifierMapping(display),
                                                                      &XFreeModifiermap);
    if (!map) return masks;
    bool alt = false, super = false, numLock = false;
    unsigned levelShifts = 0;
    for (int modifier = ShiftMapIndex; modifier <= Mod5MapIndex; ++modifier) {
        for (int i = 0; i < map->max_keypermod; ++i) {
            KeyCode code = map->modifiermap[modifier * map->max_keypermod + i];
            if (!code) continue;
            if (!masks.keys[modifier]) masks.keys[modifier] = code;
            if (modifier < Mod1MapIndex) continue;
            KeySym sym = XkbKeycodeToKeysym(display, code, 0, 0);
            unsigned mask = 1u << modifier;
            if (!alt && (sym == XK_Alt_L || sym == XK_Alt_R)) masks.alt = mask, alt = true;
            if (!super && (sym == XK_Super_L || sym == XK_Super_R)) masks.super = mask, super = true;
            if (!numLock && sym == XK_Num_Lock) masks.numLock = mask, numLock = true;
            if (sym == XK_ISO_Level3_Shift || sym == XK_ISO_Level5_Shift || sym == XK_Mode_switch)
                levelShifts |= mask;
        }
    }
    // A bit shared with Alt or Super still counts.
    masks.levelShifts = levelShifts & ~(masks.alt | masks.super);
    return masks;
}

unsigned ModifierMasks::counted() const { return ShiftMask | ControlMask | alt | super; }

unsigned ModifierMasks::ignored() const { return (LockMask | numLock | levelShifts) & ~counted(); }

std::optional<int64_t> keyCodeForKeysym(unsigned long keysym) {
    if (keysym >= XK_A && keysym <= XK_Z) keysym += XK_a - XK_A;
    for (const auto& [sym, code] : kKeys) {
        if (sym == keysym) return code;
    }
    return std::nullopt;
}

std::optional<unsigned long> keysymForKeyCode(int64_t keyCode) {
    for (const auto& [sym, code] : kKeys) {
        if (code == keyCode) return sym;
    }
    return std::nullopt;
}

uint64_t flagsForState(unsigned state, const ModifierMasks& masks) {
    uint64_t flags = 0;
    if (state & ShiftMask) flags |= keyflags::shift;
    if (state & LockMask) flags |= keyflags::capsLock;
    if (state & ControlMask) flags |= keyflags::control;
    if (state & masks.alt) flags |= keyflags::option;
    if (state & masks.super) flags |= keyflags::command;
    return flags;
}

unsigned stateForFlags(uint64_t flags, const ModifierMasks& masks) {
    unsigned state = 0;
    if (flags & keyflags::shift) state |= ShiftMask;
    if (flags & keyflags::control) state |= ControlMask;
    if (flags & keyflags::option) state |= masks.alt;
    if (flags & keyflags::command) state |= masks.super;
    return state;
}

}  // namespace desktop::x11
