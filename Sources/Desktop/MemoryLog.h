// A log kept in memory, line by line, for tests, simulations and the tool commands; it may echo
// each line to standard error. Any thread. Owned by a desktop.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "Desktop/Log.h"

namespace desktop {

class MemoryLog final : public Log {
public:
    // With `echo`, every line is mirrored to standard error as well.
    explicit MemoryLog(bool echo = false) : echo_(echo) {}
    void write(std::string line) override;
    std::vector<std::string> lines() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    const bool echo_;
};

}  // namespace desktop
