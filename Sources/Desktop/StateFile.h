// The files that keep a desktop's state between runs (user defaults, the saved session): reading
// one that may be damaged without losing it, writing one so that a crash never leaves half a file,
// and checking the folder they live in. Any thread; one file is used by one owner at a time.
#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Desktop/Json.h"

namespace desktop::statefile {

// Where a store tells the person about its file, one line at a time (the desktop's log).
using Report = std::function<void(std::string line)>;

// The document in `file`; nothing when there is no file. An error says why the file cannot be
// read: it cannot be opened, is empty, is not UTF-8 or is not JSON.
std::expected<std::optional<json::Json>, std::string> readJson(const std::filesystem::path& file);

// Moves an unreadable `file` aside, beside it, under its name plus ".unreadable-" and the UTC time
// (never deleting it), and reports one line naming `what` it held, `why` it was unreadable, where
// it went and `goingOn` (what happens instead). Answers false when it could not be moved: the
// caller must then leave the file alone for this run, or its first write would destroy it.
bool setAside(const std::filesystem::path& file, std::string_view what, std::string_view why,
              std::string_view goingOn, const Report& report);

enum class Access { standard, ownerOnly };

// Replaces `file` with `text` through a temporary file and a rename, creating its folder when
// needed; an owner-only file is never readable by others, not even while it is written.
// Answers why it failed.
std::optional<std::string> write(const std::filesystem::path& file, std::string_view text,
                                 Access access);

// Why nothing can be saved in `folder` (it is a file, or cannot be created or written), checked
// by creating it when missing and writing a scratch file into it.
std::optional<std::string> folderProblem(const std::filesystem::path& folder);

}  // namespace desktop::statefile
