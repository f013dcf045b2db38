// Key chords as scenario scripts write them ("shift+cmd+d", "enter"): key names and modifier
// words to key codes and flag bits. Plain values; any thread.
#pragma once

#include <optional>
#include <string_view>

#include "Desktop/KeyEvent.h"

namespace scenario {

// A key-down for the chord; none for an unknown key or modifier.
std::optional<desktop::KeyEvent> parseChord(std::string_view chord);

}  // namespace scenario
