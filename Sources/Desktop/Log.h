// The system log: one line per call, no levels. Any thread.
#pragma once

#include <string>

namespace desktop {

class Log {
public:
    virtual ~Log() = default;
    virtual void write(std::string line) = 0;
};

}  // namespace desktop
