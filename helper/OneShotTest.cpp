// Runs the real executable in one-shot mode as a child process: the command line, the
// request file and one answer per kind of request. The decoding and the operations
// have their own tests.
#include <gtest/gtest.h>

#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

using testing::runChild;
using testing::TempDir;
using testing::writeFile;

const std::string helper = KB_HELPER_EXECUTABLE;

TEST(OneShot, WrongCommandLinesPrintUsageAndExitTwo) {
    for (const auto& argv : std::vector<std::vector<std::string>>{
             {helper, "--oneshot"}, {helper, "--oneshot", "a", "b"}, {helper, "--ONESHOT", "a"}}) {
        SCOPED_TRACE(argv.back());
        const auto r = runChild(argv);
        EXPECT_EQ(r.exitStatus, 2);
        EXPECT_EQ(r.err, "usage: dev.kestrelbay.helper [--oneshot <request.json>]\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(OneShot, UnreadableUndecodableAndOversizedFilesExitThree) {
    TempDir dir;
    writeFile(dir / "unknown.json", R"({"launchRockets":{}})");
    writeFile(dir / "big.json", std::string(65u << 20, ' '));
    const std::pair<std::string, std::string> cases[] = {
        {dir / "missing.json", "cannot read "},
        {dir.path(), "cannot read "},
        {dir / "unknown.json", "cannot decode "},
        {dir / "big.json", "cannot decode "},
    };
    for (const auto& [path, problem] : cases) {
        SCOPED_TRACE(path);
        const auto r = runChild({helper, "--oneshot", path});
        EXPECT_EQ(r.exitStatus, 3);
        EXPECT_EQ(r.err, problem + path + "\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(OneShot, EveryExampleRequestGetsAResponseWithoutALineFeedAndExitsZero) {
    for (const char* name :
         {"getVersion", "trashItems", "removeItems", "clearProtection", "terminateProcess",
          "bootoutLaunchd", "forgetReceipt", "restoreFromTrash"}) {
        SCOPED_TRACE(name);
        const auto r =
            runChild({helper, "--oneshot", std::string(KB_EXAMPLES_DIR) + "/" + name + ".json"});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_FALSE(r.out.empty());
        EXPECT_NE(r.out.back(), '\n');
        if (std::string_view(name) == "getVersion") {
            EXPECT_EQ(r.out, R"({"version":{"_0":7}})");
            EXPECT_EQ(r.err, "");
        }
    }
}

}  // namespace
}  // namespace kb
