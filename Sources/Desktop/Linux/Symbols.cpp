#include "Desktop/Linux/Symbols.h"

#include <array>
#include <utility>

namespace desktop::x11 {

SymbolLook symbolLook(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, SymbolLook>, 10> kTable{{
        {"checkmark", {"object-select-symbolic", "\u2713"}},
        {"checkmark.seal", {"security-medium-symbolic", "\u2713"}},
        {"checkmark.seal.fill", {"security-high-symbolic", "\u2714"}},
        {"checkmark.circle.fill", {"emblem-ok-symbolic", "\u2714"}},
        {"exclamationmark.triangle.fill", {"dialog-warning-symbolic", "\u26A0"}},
        {"xmark", {"window-close-symbolic", "\u2715"}},
        {"waveform", {"audio-volume-high-symbolic", "\u223F"}},
        {"person.wave.2", {"avatar-default-symbolic", "\u263A"}},
        {"sparkles", {"starred-symbolic", "\u2726"}},
        {"eye.slash", {"view-conceal-symbolic", "\u2298"}},
    }};
    for (const auto& [symbol, look] : kTable) {
        if (symbol == name) return look;
    }
    return {"media-record-symbolic", "\u2022"};
}

}  // namespace desktop::x11
