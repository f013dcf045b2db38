// The kestrel program as a person runs it from a shell: its flags, their output streams and exit
// statuses, also from a copy whose resource directory is broken.
#include <glib.h>
#include <gmock/gmock.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using testing::StartsWith;
using testing_support::ScratchDirectory;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the program to its end with nothing on its standard input.
Outcome run(const std::string& program, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    gchar *out = nullptr, *err = nullptr;
    int status = 0;
    Outcome outcome;
    if (g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_STDIN_FROM_DEV_NULL, nullptr, nullptr, &out, &err, &status,
                     nullptr))
        outcome = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, err};
    g_free(out);
    g_free(err);
    return outcome;
}

struct FlagCase {
    std::string program;
    std::vector<std::string> arguments;
    int status;
    std::string out;  // what standard output begins with
    std::string err;  // what standard error begins with
};

TEST(ProgramTests, FlagsAnswerOnTheRightStreamWithTheRightStatus) {
    // A copy with a file where its resource directory belongs still tells its version and usage.
    ScratchDirectory scratch;
    const std::string program = KESTREL_PROGRAM, broken = scratch.path() / "bin" / "kestrel";
    std::filesystem::create_directories(scratch.path() / "bin");
    std::filesystem::copy_file(program, broken);
    scratch.write("share/kestrel", "not a directory");
    const std::string version = std::string("kestrel ") + KESTREL_VERSION + "\n";
    const std::vector<FlagCase> cases = {
        {program, {"--help"}, 0, "usage: kestrel", ""},
        {program, {"-h"}, 0, "usage: kestrel", ""},
        {program, {"--version"}, 0, version, ""},
        {program, {"--simulate", "x.ksim", "--version"}, 0, version, ""},
        {program, {"--frobnicate"}, 2, "", "kestrel: unknown option --frobnicate\nusage: kestrel"},
        {program, {"--state"}, 2, "", "kestrel: --state needs a directory\nusage: kestrel"},
        {broken, {"--version"}, 0, version, ""},
        {broken, {"--help"}, 0, "usage: kestrel", ""},
    };
    for (const auto& c : cases) {
        auto outcome = run(c.program, c.arguments);
        SCOPED_TRACE(c.program + " " + c.arguments.front());
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_THAT(outcome.out, StartsWith(c.out));
        EXPECT_THAT(outcome.err, StartsWith(c.err));
        if (c.out.empty()) {
            EXPECT_EQ(outcome.out, "");
        }
        if (c.err.empty()) {
            EXPECT_EQ(outcome.err, "");
        }
    }
}

}  // namespace
