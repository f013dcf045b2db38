// Drafts built to load the engine scripts, shared by their tests and their benchmark.
#pragma once

#include <string>

namespace engine_inputs {

// `unit` repeated as often as fits in `size` bytes.
inline std::string repeated(const std::string& unit, size_t size) {
    std::string s;
    while (s.size() + unit.size() <= size) s += unit;
    return s;
}

// About a megabyte of short links and longer ones with paths and queries, as a pasted list of
// tracking links would be: some forty thousand tokens.
inline std::string megabyteOfLinks() {
    std::string s;
    for (size_t i = 0; s.size() < (1u << 20); ++i) {
        if (i % 4 == 3)
            s += "https://docs.example.com/guide/" + std::to_string(i * 7919 % 100000) + "?ref=mail&id=" +
                 std::to_string(i * 31) + "\n";
        else
            s += "https://go.example/" + std::to_string(i * 2654435761u % 1000000) + " ";
    }
    return s;
}

}  // namespace engine_inputs
