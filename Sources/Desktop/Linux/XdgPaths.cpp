#include "Desktop/Linux/XdgPaths.h"

#include <cstdlib>
#include <string>

#include <pwd.h>
#include <unistd.h>

namespace desktop::x11 {

namespace {

std::filesystem::path home() {
    if (const char* value = std::getenv("HOME"); value && *value == '/') return value;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::filesystem::path fromEnvironment(const char* variable, const std::filesystem::path& fallback) {
    if (const char* value = std::getenv(variable); value && *value == '/') return value;
    return home() / fallback;
}

}  // namespace

std::filesystem::path configHome() { return fromEnvironment("XDG_CONFIG_HOME", ".config"); }
std::filesystem::path dataHome() { return fromEnvironment("XDG_DATA_HOME", ".local/share"); }

}  // namespace desktop::x11
