// Runs the real executable in one-shot mode as a child process.
#include <gtest/gtest.h>

#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

using testing::runChild;
using testing::TempDir;
using testing::writeFile;

const std::string helper = KB_HELPER_EXECUTABLE;
const std::string usageLine = "usage: dev.kestrelbay.helper [--oneshot <request.json>]\n";

TEST(OneShot, WrongCommandLinesPrintUsageAndExitTwo) {
    const std::vector<std::vector<std::string>> commandLines = {
        {helper, "--oneshot"},
        {helper, "--oneshot", "a", "b"},
        {helper, "--help"},
        {helper, "oneshot", "a"},
        {helper, "-oneshot", "a"},
        {helper, "--ONESHOT", "a"},
        {helper, "a"},
    };
    for (const auto& argv : commandLines) {
        SCOPED_TRACE(argv.back());
        const auto r = runChild(argv);
        EXPECT_EQ(r.exitStatus, 2);
        EXPECT_EQ(r.err, usageLine);
        EXPECT_EQ(r.out, "");
    }
}

TEST(OneShot, UnreadableAndUndecodableFilesExitThree) {
    TempDir dir;
    const std::string missing = dir / "missing.json";
    struct Case {
        std::string path;
        std::string expectedErr;
    };
    writeFile(dir / "empty.json", "");
    writeFile(dir / "object.json", "{}");
    writeFile(dir / "unknown.json", R"({"launchRockets":{}})");
    writeFile(dir / "garbage.json", std::string("\x00\xff{{{", 5));
    writeFile(dir / "twokeys.json",
              R"({"getVersion":{},"done":{},"forgetReceipt":{"packageID":"x"}})");
    writeFile(dir / "negative.json", R"({"trashItems":{"paths":["/a"],"uid":-1}})");
    const Case cases[] = {
        {missing, "cannot read " + missing + "\n"},
        {dir.path(), "cannot read " + dir.path() + "\n"},
        {dir / "empty.json", "cannot decode " + (dir / "empty.json") + "\n"},
        {dir / "object.json", "cannot decode " + (dir / "object.json") + "\n"},
        {dir / "unknown.json", "cannot decode " + (dir / "unknown.json") + "\n"},
        {dir / "garbage.json", "cannot decode " + (dir / "garbage.json") + "\n"},
        {dir / "twokeys.json", "cannot decode " + (dir / "twokeys.json") + "\n"},
        {dir / "negative.json", "cannot decode " + (dir / "negative.json") + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto r = runChild({helper, "--oneshot", c.path});
        EXPECT_EQ(r.exitStatus, 3);
        EXPECT_EQ(r.err, c.expectedErr);
        EXPECT_EQ(r.out, "");
    }
}

TEST(OneShot, AnOversizedFileIsNotDecoded) {
    TempDir dir;
    const std::string big = dir / "big.json";
    writeFile(big, std::string(65u << 20, ' '));
    const auto r = runChild({helper, "--oneshot", big});
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(r.err, "cannot decode " + big + "\n");
}

TEST(OneShot, GetVersionAnswersTheEmbeddedBuildVersionWithoutALineFeed) {
    const auto r =
        runChild({helper, "--oneshot", std::string(KB_EXAMPLES_DIR) + "/getVersion.json"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, R"({"version":{"_0":7}})");
    EXPECT_EQ(r.err, "");
}

TEST(OneShot, EveryExampleRequestGetsAResponseAndExitsZero) {
    for (const char* name :
         {"getVersion", "trashItems", "removeItems", "clearProtection", "terminateProcess",
          "bootoutLaunchd", "forgetReceipt", "restoreFromTrash"}) {
        SCOPED_TRACE(name);
        const auto r =
            runChild({helper, "--oneshot", std::string(KB_EXAMPLES_DIR) + "/" + name + ".json"});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_FALSE(r.out.empty());
        EXPECT_NE(r.out.back(), '\n');
    }
}

}  // namespace
}  // namespace kb
