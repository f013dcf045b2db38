// The kestrel program as a person runs it from a shell: its flags, their output streams and exit
// statuses, also from a copy whose resource directory is broken.
#include <gmock/gmock.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

extern char** environ;

namespace {

using testing::StartsWith;
using testing_support::ScratchDirectory;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Outcome run(const std::filesystem::path& program, const std::vector<std::string>& arguments,
            const ScratchDirectory& scratch) {
    auto outPath = scratch.path() / "stdout", errPath = scratch.path() / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all = {program.string()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Outcome outcome;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    outcome.out = slurp(outPath);
    outcome.err = slurp(errPath);
    return outcome;
}

struct FlagCase {
    std::vector<std::string> arguments;
    int status;
    std::string out;  // what standard output begins with
    std::string err;  // what standard error begins with
};

TEST(ProgramTests, FlagsAnswerOnTheRightStreamWithTheRightStatus) {
    const std::string version = std::string("kestrel ") + KESTREL_VERSION + "\n";
    const std::vector<FlagCase> cases = {
        {{"--help"}, 0, "usage: kestrel", ""},
        {{"-h"}, 0, "usage: kestrel", ""},
        {{"--version"}, 0, version, ""},
        {{"--simulate", "x.ksim", "--version"}, 0, version, ""},
        {{"--frobnicate"}, 2, "", "kestrel: unknown option --frobnicate\nusage: kestrel"},
        {{"--state"}, 2, "", "kestrel: --state needs a directory\nusage: kestrel"},
    };
    ScratchDirectory scratch;
    for (const auto& c : cases) {
        auto outcome = run(KESTREL_PROGRAM, c.arguments, scratch);
        SCOPED_TRACE(c.arguments.front());
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_THAT(outcome.out, StartsWith(c.out));
        EXPECT_THAT(outcome.err, StartsWith(c.err));
        if (c.out.empty()) EXPECT_EQ(outcome.out, "");
        if (c.err.empty()) EXPECT_EQ(outcome.err, "");
    }
}

TEST(ProgramTests, AProgramWhoseResourceDirectoryIsBrokenStillTellsItsVersionAndUsage) {
    ScratchDirectory scratch;
    auto copy = scratch.path() / "bin" / "kestrel";
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(KESTREL_PROGRAM, copy);
    // A file where the resource directory belongs.
    scratch.write("share/kestrel", "not a directory");

    auto version = run(copy, {"--version"}, scratch);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("kestrel ") + KESTREL_VERSION + "\n");
    auto help = run(copy, {"--help"}, scratch);
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, StartsWith("usage: kestrel"));
}

}  // namespace
