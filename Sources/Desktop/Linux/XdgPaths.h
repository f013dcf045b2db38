// The XDG base directories this backend uses. A variable that is unset, empty or not an
// absolute path counts as unset. Any thread.
#pragma once

#include <filesystem>

namespace desktop::x11 {

// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path configHome();
// $XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path dataHome();

}  // namespace desktop::x11
