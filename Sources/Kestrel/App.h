// The program's entry and the self test of the engine scripts. Main thread.
#pragma once

#include <iostream>
#include <string>
#include <vector>

namespace kestrel {

// Loads the engine as the application would, checks one sample sentence on both channels,
// prints the report and the verdict, and answers the exit status (0 or 1).
int selfTest(std::ostream& out = std::cout);

class AppDelegate {
public:
    // The entry: "--selftest" anywhere among the arguments runs the self test.
    static int main(const std::vector<std::string>& arguments);
};

}  // namespace kestrel
