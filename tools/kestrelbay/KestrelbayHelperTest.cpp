// kestrelbay with the real helper: an item the account cannot delete itself goes to the
// helper, and undo brings it back through the helper; or the helper's refusal is reported.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "testing/ChildProcess.h"
#include "testing/TestAccount.h"
#include "tools/helperctl/ServiceHarness.h"

namespace kb {
namespace {

TEST(KestrelbayHelper, AnItemTheAccountCannotDeleteGoesThroughTheHelperAndComesBack) {
    testing::TempDir dir;
    testing::TestAccount user("kbhelp");
    testing::TestAccount groupOwner("kbclient");
    ASSERT_TRUE(user.valid() && groupOwner.valid());
    const std::string home = user.home();
    const std::string item = home + "/.cache/rootOwned";
    testing::makeDirectories(item + "/sub");
    testing::writeFile(item + "/sub/data", "made by root");
    const std::string rules = home + "/.config/kestrelbay/rules.d";
    testing::makeDirectories(rules);
    testing::writeFile(rules + "/root.json", R"({"id": "test.rootCache", "group": "systemJunk",
        "provider": {"globs": {"_0": ["~/.cache/rootOwned"]}}, "safety": "safe",
        "regenerationCost": "free", "requiresRoot": true, "requiresFullDiskAccess": false,
        "busy": {"none": {}}, "mode": "unlink", "excludes": [], "phase": 3})");
    const std::string owner = std::to_string(user.uid()) + ":" + std::to_string(user.gid());
    ASSERT_EQ(
        std::system(("chown -R " + owner + " " + home + "/.cache " + home + "/.config").c_str()),
        0);
    ASSERT_EQ(std::system(("chown -R 0:0 " + item).c_str()), 0);

    const std::string client =
        testing::installClient(dir, "kestrelbay", groupOwner.gid(), testing::genuineAttestation(),
                               KB_KESTRELBAY_EXECUTABLE);
    testing::RunningHelper helper(dir);
    ::setenv("HOME", home.c_str(), 1);
    for (const char* name : {"XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
        ::unsetenv(name);
    }
    const auto run = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), client);
        arguments.insert(arguments.end(), {"--socket", helper.socketPath()});
        return testing::runChild(arguments, {}, {testing::Credentials{user.uid(), user.gid()}});
    };

    const auto cleaned = run({"clean", "test.rootCache", "--yes"});
    EXPECT_NE(cleaned.out.find("1 items, "), std::string::npos) << cleaned.out;
    EXPECT_NE(cleaned.out.find("1 through the helper"), std::string::npos) << cleaned.out;
    if (cleaned.exitStatus != 0) {
        // A helper that wants authorization for another owner's item refuses; the tool
        // says so with the path, and nothing moved.
        EXPECT_EQ(cleaned.exitStatus, 74);
        EXPECT_NE(cleaned.err.find(item + ": the helper refused"), std::string::npos)
            << cleaned.err;
        EXPECT_EQ(testing::readFile(item + "/sub/data"), "made by root");
        return;
    }
    EXPECT_FALSE(testing::pathExists(item));
    EXPECT_TRUE(testing::pathExists(home + "/.Trash/rootOwned/sub/data"));

    const auto undone = run({"undo"});
    EXPECT_EQ(undone.exitStatus, 0) << undone.err;
    EXPECT_EQ(testing::readFile(item + "/sub/data"), "made by root");
    EXPECT_FALSE(testing::pathExists(home + "/.Trash/rootOwned"));
}

}  // namespace
}  // namespace kb
