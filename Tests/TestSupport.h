// Shared test fixtures: a fresh simulated desktop on the virtual clock per test, and scratch
// directories for substitute engine scripts.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "Desktop/Sim/SimDesktop.h"

namespace testing_support {

class SimDesktopTest : public ::testing::Test {
protected:
    desktop::sim::SimDesktop sim;
    desktop::InstallGuard installed{sim};

    std::vector<std::string> logLines() const { return sim.simLog().lines(); }
};

// A directory removed with its contents when the object goes.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() /
                ("kestrel-test-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDirectory() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    void write(const std::string& name, const std::string& text) const {
        std::filesystem::create_directories((path_ / name).parent_path());
        std::ofstream(path_ / name, std::ios::binary) << text;
    }

private:
    std::filesystem::path path_;
};

}  // namespace testing_support
