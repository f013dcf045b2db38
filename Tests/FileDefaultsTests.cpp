// The user defaults kept in a file, and the state files and folder of the simulated desktop.
#include <gmock/gmock.h>

#include <fstream>
#include <sstream>

#include "Desktop/FileDefaults.h"
#include "TestSupport.h"

using desktop::FileDefaults;
using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The files beside `file` that an unreadable copy of it was moved to.
std::vector<fs::path> setAside(const fs::path& file) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
        if (entry.path().filename().string().starts_with(file.filename().string() + ".unreadable-"))
            found.push_back(entry.path());
    }
    return found;
}

}  // namespace

TEST(FileDefaultsTests, PersistsTypedValuesButNeverAnArgument) {
    testing_support::ScratchDirectory dir;
    auto file = dir.path() / "defaults.json";
    {
        FileDefaults defaults(file);
        defaults.set("backendUrl", std::string("https://stored.example"));
        defaults.setArgument("backendUrl", std::string("http://127.0.0.1:9"));
        EXPECT_EQ(defaults.string("backendUrl"), "http://127.0.0.1:9");  // wins for this run
        defaults.set("s", std::string("text"));
        defaults.set("b", true);
        defaults.set("i", int64_t{42});
        defaults.set("f", 0.5);
        defaults.set("a", std::vector<std::string>{"x", "y"});
        defaults.set("gone", true);
        defaults.remove("gone");
    }
    FileDefaults reread(file);
    EXPECT_EQ(reread.string("backendUrl"), "https://stored.example");
    EXPECT_EQ(reread.string("s"), "text");
    EXPECT_EQ(reread.boolean("b"), true);
    EXPECT_EQ(reread.integer("i"), 42);
    EXPECT_EQ(reread.number("f"), 0.5);
    EXPECT_EQ(reread.stringArray("a"), (std::vector<std::string>{"x", "y"}));
    EXPECT_FALSE(reread.object("gone"));
    EXPECT_FALSE(reread.boolean("s"));
    EXPECT_FALSE(fs::exists(dir.path() / "defaults.json.tmp"));
}

TEST(FileDefaultsTests, AnUnreadableFileIsMovedAsideNotOverwritten) {
    const std::pair<std::string, const char*> cases[] = {
        {R"({"disabledRules": ["pii"], "muted.com.apple.mail": tr)", "it is not JSON"},
        {"muted=true\n", "it is not JSON"},
        {R"(["pii"])", "it is not a JSON object"},
        {"{\"backendUrl\": \"http://caf\xe9.example\"}", "it is not UTF-8 text"},
        {"", "it is empty"},
    };
    for (const auto& [text, why] : cases) {
        testing_support::ScratchDirectory dir;
        auto file = dir.path() / "defaults.json";
        dir.write("defaults.json", text);
        std::vector<std::string> lines;
        FileDefaults defaults(file, [&](std::string line) { lines.push_back(std::move(line)); });
        EXPECT_FALSE(defaults.object("disabledRules")) << why;
        defaults.set("installID", std::string("fresh"));

        auto aside = setAside(file);
        ASSERT_EQ(aside.size(), 1u) << why;
        EXPECT_EQ(contents(aside[0]), text) << why;
        ASSERT_EQ(lines.size(), 1u) << why;
        EXPECT_THAT(lines[0], HasSubstr(file.string() + " could not be read (" + why +
                                        "); moved it to " + aside[0].string()));
        EXPECT_EQ(FileDefaults(file).string("installID"), "fresh") << why;
    }
}

TEST(FileDefaultsTests, ValuesOfAnUnknownKindAreWrittenBackUnchanged) {
    testing_support::ScratchDirectory dir;
    auto file = dir.path() / "defaults.json";
    dir.write("defaults.json",
              R"({"future": {"a": [1, null]}, "mixed": [1, "x"], "none": null, "b": true})");
    {
        FileDefaults defaults(file);
        EXPECT_FALSE(defaults.object("future"));
        defaults.set("installID", std::string("id"));
        defaults.set("mixed", std::vector<std::string>{"y"});
    }
    auto stored = desktop::json::parse(contents(file));
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, (nlohmann::json{{"future", {{"a", {1, nullptr}}}},
                                       {"mixed", {"y"}},
                                       {"none", nullptr},
                                       {"b", true},
                                       {"installID", "id"}}));
}

TEST(SimDesktopStateTests, AStateFolderThatCannotBeWrittenIsReportedAtStart) {
    testing_support::ScratchDirectory dir;
    dir.write("state", "a file where the folder should be");
    desktop::sim::SimDesktop sim(desktop::sim::SimOptions{.stateDirectory = dir.path() / "state"});
    auto lines = sim.simLog().lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Kestrel: nothing can be saved in the state folder " +
                            (dir.path() / "state").string() +
                            " (it is a file, not a folder); changes last only until Kestrel quits");
    sim.simDefaults().set("b", true);
    EXPECT_EQ(sim.simDefaults().boolean("b"), true);
    EXPECT_EQ(contents(dir.path() / "state"), "a file where the folder should be");
}
