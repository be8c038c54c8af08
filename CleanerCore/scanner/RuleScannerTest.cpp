#include "CleanerCore/scanner/RuleScanner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "testing/ChildProcess.h"
#include "testing/ScratchTree.h"
#include "testing/TempDir.h"
#include "testing/TestAccount.h"

namespace kb {
namespace {

using testing::makeDirectories;
using testing::writeFile;

constexpr double day = 86400;

CleanRule cacheRule(std::vector<std::string> patterns, BusyCheck busy = BusyCheck::none()) {
    return CleanRule("test.cache", "systemJunk", RuleProvider::globs(std::move(patterns)),
                     SafetyLevel::safe, RegenerationCost::free, false, false, std::move(busy),
                     DeletionMode::unlink, day, {"kept", "*/.cache/byPath"}, 3);
}

std::vector<std::string> paths(const std::vector<ScannedItem>& items) {
    std::vector<std::string> result;
    for (const auto& item : items) {
        result.push_back(item.path.path());
    }
    return result;
}

// A home with old and fresh cache entries, excluded ones, one owned by root, a link out of
// the home and a tmpfs mounted inside an entry.
TEST(RuleScanner, FindsOldItemsWithTheirSizesAndLeavesTheRestAloneUnlessTheRuleIsBusy) {
    testing::TestAccount owner("scan");
    ASSERT_TRUE(owner.valid());
    const std::string cache = owner.home() + "/.cache";
    for (const char* name : {"old/a/b", "kept", "byPath", "fresh", "rootOwned/x"}) {
        makeDirectories(cache + "/" + name);
    }
    writeFile(cache + "/old/one", std::string(10000, 'x'));
    writeFile(cache + "/old/a/b/two", std::string(70000, 'y'));
    writeFile(cache + "/file.bin", std::string(5000, 'z'));
    writeFile(cache + "/rootOwned/x/data", "root");
    ASSERT_EQ(::symlink("/etc", (cache + "/link").c_str()), 0);
    ASSERT_EQ(::system(("chown -R " + owner.name() + ": " + owner.home()).c_str()), 0);
    ASSERT_EQ(::chown((cache + "/rootOwned").c_str(), 0, 0), 0);
    testing::ScratchMount mount(cache + "/old/mounted");
    ASSERT_TRUE(mount.mounted());
    writeFile(cache + "/old/mounted/elsewhere", std::string(90000, 'm'));
    // Three days old; a link itself, not its target.
    const timespec old{::time(nullptr) - 3 * 86400, 0};
    const timespec times[2] = {old, old};
    for (const char* name : {"old", "kept", "byPath", "rootOwned", "file.bin", "link"}) {
        const auto path = cache + "/" + name;
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
    }
    // The bytes allocated to a regular file, as `du` adds them up.
    const auto allocated = [&](const char* file) {
        return testing::statusOf(cache + "/" + file).blocks * 512;
    };
    const auto account = ScanAccount::withDefaults(owner.uid(), owner.home());

    auto processes = ProcessTable::read(account.uid);
    std::vector<ScanProgress> seen;
    ScanOptions options;
    options.progress = [&](const ScanProgress& p) { seen.push_back(p); };
    const auto result = scanRule(cacheRule({"~/.cache/*"}), account, processes, options);
    ASSERT_TRUE(result.ok());
    EXPECT_TRUE(result->errors.empty());
    // Excluded by name and by path, too young, and the root-owned entry are not items; the
    // link is an item of its own (never entered), and the mount below "old" adds nothing.
    EXPECT_EQ(paths(result->items),
              (std::vector<std::string>{cache + "/file.bin", cache + "/link", cache + "/old"}));
    EXPECT_EQ(result->items[0].size, allocated("file.bin"));
    EXPECT_EQ(result->items[1].size, 0u);
    EXPECT_EQ(result->items[2].size, allocated("old/one") + allocated("old/a/b/two"));
    EXPECT_TRUE(result->items[2].isDirectory);
    ASSERT_EQ(result->skipped.size(), 1u);
    EXPECT_EQ(result->skipped[0].path.path(), cache + "/rootOwned");
    EXPECT_EQ(result->skipped[0].reason, SkipReason::needsHelper());
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen.back().items, 3u);
    EXPECT_EQ(seen.back().bytes, result->totalBytes());
    // A root rule takes what the account cannot delete.
    auto rootRule = cacheRule({"~/.cache/rootOwned"});
    rootRule.requiresRoot = true;
    const auto root = scanRule(rootRule, account, processes, {});
    ASSERT_TRUE(root.ok());
    EXPECT_EQ(paths(root->items), std::vector<std::string>{cache + "/rootOwned"});
    // Wildcards stay within one piece, and a mount is never an item.
    auto wildcards = cacheRule({"~/.cache/o*/*", "~/.cache/*/b", "$XDG_CACHE_HOME/link/*"});
    wildcards.minimumAge.reset();
    const auto matched = scanRule(wildcards, account, processes, {});
    ASSERT_TRUE(matched.ok());
    EXPECT_EQ(paths(matched->items),
              (std::vector<std::string>{cache + "/old/a", cache + "/old/one"}));
    std::stop_source stop;
    stop.request_stop();
    options.stop = stop.get_token();
    const auto cancelled = scanRule(cacheRule({"~/.cache/*"}), account, processes, options);
    ASSERT_FALSE(cancelled.ok());
    EXPECT_EQ(cancelled.error(), CleanerError::cancelled());

    // A running process of the account, named in the rule's busy check, makes it busy.
    testing::TempDir bin;
    const std::string browser = bin / "kbfakebrowser";
    ASSERT_EQ(::system(("cp /bin/sleep " + browser).c_str()), 0);
    std::jthread running([&] {
        testing::runChild({browser, "30"}, {}, {.as = {{owner.uid(), owner.gid()}}});
    });
    // The child shows its new name only once it has executed the copy.
    const ProcessInfo* browserProcess = nullptr;
    for (int attempt = 0; attempt < 100 && browserProcess == nullptr; ++attempt) {
        ::usleep(20000);
        processes = ProcessTable::read(account.uid);
        browserProcess = processes.findByName("kbfakebrowser");
    }
    ASSERT_NE(browserProcess, nullptr);
    const auto busy =
        scanRule(cacheRule({"~/.cache/*"}, BusyCheck::processRunning({"other", "kbfakebrowser"})),
                 account, processes, {});
    const auto other = scanRule(cacheRule({"~/.cache/*"}, BusyCheck::processRunning({"other"})),
                                account, processes, {});
    ::kill(browserProcess->pid, SIGKILL);
    ASSERT_TRUE(busy.ok());
    EXPECT_TRUE(busy->items.empty());
    EXPECT_EQ(busy->skipped.front().reason, SkipReason::busy("kbfakebrowser"));
    EXPECT_EQ(busy->skipped.size(), 4u);  // the three items and the root-owned entry
    ASSERT_TRUE(other.ok());
    EXPECT_EQ(other->items.size(), 3u);
}

}  // namespace
}  // namespace kb
