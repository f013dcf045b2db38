#include "Desktop/MemoryLog.h"

#include <iostream>

namespace desktop {

void MemoryLog::write(std::string line) {
    std::lock_guard lock(mutex_);
    if (echo_) std::cerr << line << '\n';
    lines_.push_back(std::move(line));
}

std::vector<std::string> MemoryLog::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

}  // namespace desktop
