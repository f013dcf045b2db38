// User defaults kept in one JSON file (or only in memory): loaded at start, rewritten atomically
// on every change. A file that cannot be read is moved aside rather than overwritten, and values
// this program cannot read (from a newer version, say) are written back unchanged.
// Main thread only. Owned by the desktop.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "Desktop/Defaults.h"
#include "Desktop/StateFile.h"

namespace desktop {

class FileDefaults final : public Defaults {
public:
    static constexpr const char* kWhat = "the user defaults";

    // No file: kept in memory only. `report` hears about a file that had to be set aside.
    explicit FileDefaults(std::optional<std::filesystem::path> file = std::nullopt,
                          statefile::Report report = {});

    std::optional<DefaultValue> object(std::string_view key) const override;
    void set(std::string_view key, DefaultValue value) override;
    void remove(std::string_view key) override;
    size_t writes() const { return writes_; }
    // A value for this run only, as if given on the command line: it wins over the stored value
    // and is never written, so a setting that points at something short-lived does not outlive it.
    void setArgument(std::string key, DefaultValue value);

private:
    void load(const statefile::Report& report);
    void persist();

    std::map<std::string, DefaultValue, std::less<>> arguments_;
    std::map<std::string, DefaultValue, std::less<>> values_;
    // Stored values of a kind no typed read answers, kept as they were.
    std::map<std::string, json::Json, std::less<>> unreadable_;
    std::optional<std::filesystem::path> file_;
    size_t writes_ = 0;
};

}  // namespace desktop
