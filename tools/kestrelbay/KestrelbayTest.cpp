// The kestrelbay tool end to end: a real account's sample home, the tool run as that
// account (alone, or with the real helper), the results checked on the disk.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "CleanerCore/scanner/RuleFiles.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"
#include "testing/TestAccount.h"
#include "tools/helperctl/ServiceHarness.h"

namespace kb {
namespace {

using ::testing::HasSubstr;

// Every entry below `root` with its type, and each file with its content; the tool's own
// journal and the Trash's bookkeeping left out.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string relative = entry.path().string().substr(root.size());
        if (!relative.starts_with("/.local/share/kestrelbay") &&
            !relative.starts_with("/.local/share/Trash")) {
            entries[relative] =
                entry.is_regular_file() ? testing::readFile(entry.path()) : std::string("dir");
        }
    }
    return entries;
}

TEST(Kestrelbay, CleanThenUndoRestoresEveryItemBadRuleFilesAreReportedAndRefusalsToo) {
    testing::TestAccount account("kbtool");
    ASSERT_TRUE(account.valid());
    const std::string home = account.home();
    const auto ownAll = [&] {
        const std::string owner =
            std::to_string(account.uid()) + ":" + std::to_string(account.gid());
        ASSERT_EQ(testing::runChild({"/bin/chown", "-R", owner, home}).exitStatus, 0);
    };
    const auto run = [&](std::vector<std::string> arguments, const std::string& input = {},
                         const std::string& tool = KB_KESTRELBAY_EXECUTABLE) {
        arguments.insert(arguments.begin(),
                         {"/usr/bin/env", "-i", "HOME=" + home, "PATH=/usr/bin:/bin", tool});
        return testing::runChild(arguments, input,
                                 {testing::Credentials{account.uid(), account.gid()}});
    };
    ASSERT_EQ(testing::runChild({"/bin/sh", KB_SAMPLE_HOME_SCRIPT, home, "5"}).exitStatus, 0);
    ownAll();
    const auto before = snapshot(home);
    const auto dryRun = run({"clean", "--dry-run"});
    EXPECT_EQ(dryRun.exitStatus, 0) << dryRun.err;
    EXPECT_THAT(dryRun.out, HasSubstr("would trash " + home + "/.cache/thumbnails/normal ("));
    EXPECT_EQ(dryRun.out.find("Documents"), std::string::npos);
    EXPECT_EQ(run({"clean"}, "n\n").exitStatus, 0);  // declined
    EXPECT_EQ(snapshot(home), before);

    auto cleaned = run({"clean", "--yes"});
    ASSERT_EQ(cleaned.exitStatus, 0) << cleaned.err;
    const auto after = snapshot(home);
    EXPECT_FALSE(after.contains("/.cache/go-build/0a"));
    EXPECT_FALSE(after.contains("/.cache/thumbnails/normal"));
    EXPECT_TRUE(after.contains("/.cache/pip/http-v2"));  // costs a download: not by default
    EXPECT_TRUE(after.contains("/Documents/notes.txt"));
    EXPECT_TRUE(testing::pathExists(home + "/.local/share/Trash/files/0a"));
    EXPECT_TRUE(testing::pathExists(home + "/.local/share/Trash/info/0a.trashinfo"));

    EXPECT_THAT(run({"history"}).out, HasSubstr("clean browser.chromium"));

    const auto undone = run({"undo"});
    EXPECT_EQ(undone.exitStatus, 0) << undone.err;
    EXPECT_EQ(snapshot(home), before);
    EXPECT_FALSE(testing::pathExists(home + "/.local/share/Trash/info/0a.trashinfo"));
    EXPECT_THAT(run({"undo"}).out, HasSubstr("Nothing to undo"));

    const std::string rules = home + "/.config/kestrelbay/rules.d/";
    testing::makeDirectories(rules);
    testing::writeFile(rules + "broken.json", R"([{"id": "user.broken"}])");
    testing::writeFile(rules + "mine.json", R"({"id": "user.downloads",
        "group": "systemJunk", "provider": {"globs": {"_0": ["~/Documents/*"]}},
        "safety": "review", "regenerationCost": "irreplaceable", "requiresRoot": false,
        "requiresFullDiskAccess": false, "busy": {"none": {}}, "mode": "trash",
        "excludes": [], "phase": 3})");
    testing::writeFile(rules + "root.json", R"({"id": "test.rootCache", "group": "systemJunk",
        "provider": {"globs": {"_0": ["~/.cache/rootOwned"]}}, "safety": "safe",
        "regenerationCost": "free", "requiresRoot": true, "requiresFullDiskAccess": false,
        "busy": {"none": {}}, "mode": "unlink", "excludes": [], "phase": 3})");
    ownAll();
    const auto scan = run({"scan"});
    EXPECT_EQ(scan.exitStatus, 0) << scan.err;
    EXPECT_THAT(scan.err, HasSubstr(rules + "broken.json: "));
    EXPECT_THAT(scan.out, HasSubstr("user.downloads"));
    EXPECT_THAT(scan.out, HasSubstr("browser.firefox"));

    EXPECT_EQ(run({"clean", "no.such.rule"}).exitStatus, 64);
    EXPECT_EQ(run({"frobnicate"}).exitStatus, 64);
    const auto json = run({"scan", "--catalog", "builtin", "--json"});
    EXPECT_EQ(json.exitStatus, 0);
    EXPECT_THAT(json.out, HasSubstr(R"("ruleID" : "xcode.derivedData")"));

    // Root's item goes to the helper, which wants an authorization this account lacks.
    testing::TempDir dir;
    testing::TestAccount groupOwner("kbclient");
    const std::string item = home + "/.cache/rootOwned";
    testing::makeDirectories(item + "/sub");
    testing::writeFile(item + "/sub/data", "made by root");
    const std::string tool =
        testing::installClient(dir, "kestrelbay", groupOwner.gid(), testing::genuineAttestation(),
                               KB_KESTRELBAY_EXECUTABLE);
    testing::RunningHelper helper(dir);
    cleaned = run({"clean", "test.rootCache", "--yes", "--socket", helper.socketPath()}, {}, tool);
    EXPECT_THAT(cleaned.out, HasSubstr("1 items, "));
    EXPECT_THAT(cleaned.out, HasSubstr("1 through the helper"));
    EXPECT_EQ(cleaned.exitStatus, 74);
    EXPECT_THAT(cleaned.err, HasSubstr(item + ": the helper refused"));
    EXPECT_EQ(testing::readFile(item + "/sub/data"), "made by root");
}

TEST(LinuxCatalogue, LoadsWholeAndItsCacheRuleLeavesTheSpecificCachesAlone) {
    auto loaded = RuleFiles::loadDirectory(KB_RULES_SOURCE_DIR);
    EXPECT_TRUE(loaded.problems.empty());
    ASSERT_EQ(loaded.rules.size(), 27u);
    std::set<std::string> ids;
    for (const auto& rule : loaded.rules) {
        EXPECT_TRUE(ids.insert(rule.id).second) << rule.id;
    }
    RuleFiles::deriveExclusions(loaded.rules);
    const auto xdg = std::ranges::find(loaded.rules, "user.xdgCache", &CleanRule::id);
    ASSERT_NE(xdg, loaded.rules.end());
    EXPECT_EQ(std::set<std::string>(xdg->excludes.begin(), xdg->excludes.end()),
              (std::set<std::string>{"google-chrome", "chromium", "BraveSoftware", "microsoft-edge",
                                     "vivaldi", "mozilla", "thumbnails", "yarn", "go-build", "pip",
                                     "uv", "JetBrains"}));
}

}  // namespace
}  // namespace kb
