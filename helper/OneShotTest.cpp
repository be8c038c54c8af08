// Runs the real executable in one-shot mode as a child process: the command line, the
// request file and one answer per kind of request. The decoding and the operations
// have their own tests.
#include <gtest/gtest.h>

#include <tuple>

#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

using namespace kb::testing;

const std::string helper = KB_HELPER_EXECUTABLE;

TEST(OneShot, WrongCommandLinesExitTwoAndUnusableFilesExitThreeWithOneLine) {
    TempDir dir;
    writeFile(dir / "unknown.json", R"({"launchRockets":{}})");
    writeFile(dir / "big.json", std::string(65u << 20, ' '));
    const std::string usage = "usage: dev.kestrelbay.helper [--oneshot <request.json>]\n";
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{"--oneshot"}, 2, usage},
        {{"--oneshot", "a", "b"}, 2, usage},
        {{"--ONESHOT", "a"}, 2, usage},
        {{"--oneshot", dir / "missing.json"}, 3, "cannot read " + (dir / "missing.json") + "\n"},
        {{"--oneshot", dir.path()}, 3, "cannot read " + dir.path() + "\n"},
        {{"--oneshot", dir / "unknown.json"}, 3, "cannot decode " + (dir / "unknown.json") + "\n"},
        {{"--oneshot", dir / "big.json"}, 3, "cannot decode " + (dir / "big.json") + "\n"},
    };
    for (const auto& [args, status, err] : cases) {
        SCOPED_TRACE(err);
        std::vector<std::string> argv{helper};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto r = runChild(argv);
        EXPECT_EQ(r.exitStatus, status);
        EXPECT_EQ(r.err, err);
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
