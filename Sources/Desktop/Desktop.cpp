#include "Desktop/Desktop.h"

#include <atomic>
#include <cassert>

namespace desktop {

namespace {
std::atomic<Desktop*> installed{nullptr};
std::atomic<uint64_t> desktopsMade{0};
}  // namespace

Desktop::Desktop() : serial_(++desktopsMade) {}

Desktop& current() {
    Desktop* d = installed.load();
    assert(d && "no desktop installed");
    return *d;
}

bool isInstalled() { return installed.load() != nullptr; }

InstallGuard::InstallGuard(Desktop& desktop) : previous_(installed.exchange(&desktop)) {}
InstallGuard::~InstallGuard() { installed.store(previous_); }

}  // namespace desktop
