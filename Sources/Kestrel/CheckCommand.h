// `kestrel --check`: one local check of a draft through the real engine, printed as JSON.
// Main thread; a command-line tool that owns its own Engine for the run.
#pragma once

#include <iostream>
#include <string>
#include <vector>

namespace kestrel {

// Arguments are those after "--check": [--channel email|chat] [FILE|-]. Prints
// {"channel": {...}, "findings": [...], "slop": {...}, "tooShort": ...} on `out`.
// Exit status: 0 without risks, 1 with a risk, 2 on a usage, read or engine error.
int runCheckCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                    std::ostream& err);
int runCheckCommand(const std::vector<std::string>& args);

}  // namespace kestrel
