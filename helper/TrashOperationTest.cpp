#include "helper/TrashOperation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "helper/StagingDirectory.h"
#include "helper/TrashNaming.h"
#include "testing/FileOpsScenario.h"

namespace kb {
namespace {

using testing::FileOpsScenario;
using testing::HomeLocation;
using testing::listTree;
using testing::makeDirectories;
using testing::onlyItem;
using testing::ownerOf;
using testing::pathExists;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

constexpr uid_t strangerUid = 4242001;

bool loggedAt(const std::vector<LogRecord>& logs, LogLevel level, const std::string& message) {
    for (const auto& r : logs) {
        if (r.category == "operations" && r.level == level && r.message == message) {
            return true;
        }
    }
    return false;
}

TEST(TrashNaming, NumberedNamesKeepTheExtension) {
    const std::tuple<std::string, std::size_t, std::string> cases[] = {
        {"report.pdf", 1, "report.pdf"},           {"report.pdf", 2, "report 2.pdf"},
        {"report.pdf", 3, "report 3.pdf"},         {"Makefile", 2, "Makefile 2"},
        {"archive.tar.gz", 2, "archive.tar 2.gz"}, {".bashrc", 2, ".bashrc 2"},
        {"trailing.", 2, "trailing. 2"},           {"a.b c", 1000, "a 1000.b c"},
    };
    for (const auto& [name, n, expected] : cases) {
        EXPECT_EQ(trashCandidate(name, n), expected) << name << " " << n;
    }
}

TEST(TrashItems, ATakenNameGivesTheNextFreeOneAndTheTrashIsCreatedForTheAccount) {
    FileOpsScenario world;
    writeFile(world.at("a.txt"), "first");
    auto result = onlyItem(world.trash({world.at("a.txt")}));
    EXPECT_EQ(result, (ItemResult{world.at("a.txt"), ItemOutcome::ok(), world.trashed("a.txt")}));
    struct stat st {};
    ASSERT_EQ(::lstat(world.trashed("").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, world.uid());
    EXPECT_EQ(st.st_gid, world.account().gid());

    writeFile(world.trashed("a 2.txt"), "taken");
    writeFile(world.at("a.txt"), "third");
    result = onlyItem(world.trash({world.at("a.txt")}));
    EXPECT_EQ(result.trashedPath, world.trashed("a 3.txt"));
    EXPECT_EQ(readFile(world.trashed("a 3.txt")), "third");
    EXPECT_EQ(readFile(world.trashed("a.txt")), "first");
    EXPECT_EQ(ownerOf(world.trashed("a 3.txt")), world.uid());
    EXPECT_EQ(listTree(world.settings.stagingDirectory).size(), 1u);
}

TEST(TrashItems, ATrashThatIsNotADirectoryFailsWithTheNoFreeNameText) {
    FileOpsScenario world;
    TempDir elsewhere;
    writeFile(world.at("item"), "x");
    const std::string text = "no free name for this item in " + world.home() + "/.Trash";
    writeFile(world.at(".Trash"), "a file");
    EXPECT_EQ(onlyItem(world.trash({world.at("item")})).outcome, testing::failedWith(EEXIST, text));
    ASSERT_EQ(::unlink(world.at(".Trash").c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.path().c_str(), world.at(".Trash").c_str()), 0);
    EXPECT_EQ(onlyItem(world.trash({world.at("item")})).outcome, testing::failedWith(EEXIST, text));
    EXPECT_EQ(readFile(world.at("item")), "x");
    EXPECT_EQ(listTree(elsewhere.path()).size(), 1u);
}

TEST(TrashItems, TheWholeTreeLinksIncludedBelongsToTheAccountButForeignHardLinksDoNot) {
    FileOpsScenario world;
    TempDir outside;
    writeFile(outside / "system-file", "secret");
    makeDirectories(world.at("tree/a/b"));
    writeFile(world.at("tree/a/b/f"), "x");
    ASSERT_EQ(::symlink((outside / "system-file").c_str(), world.at("tree/a/link").c_str()), 0);
    ASSERT_EQ(::link((outside / "system-file").c_str(), world.at("tree/hard").c_str()), 0);
    const auto result = onlyItem(world.trash({world.at("tree")}));
    ASSERT_EQ(result.outcome, ItemOutcome::ok());
    for (const char* relative : {"tree", "tree/a", "tree/a/b", "tree/a/b/f", "tree/a/link"}) {
        EXPECT_EQ(ownerOf(world.trashed(relative)), world.uid()) << relative;
        EXPECT_EQ(testing::groupOf(world.trashed(relative)), world.account().gid()) << relative;
    }
    EXPECT_EQ(ownerOf(outside / "system-file"), 0u);
    const std::string staged = "/tree/hard";
    bool logged = false;
    for (const auto& r : world.logs()) {
        logged |= r.level == LogLevel::error && r.message.find(staged) != std::string::npos &&
                  r.message.find("left the owner of") == 0;
    }
    EXPECT_TRUE(logged);
}

TEST(TrashItems, AForeignStagingDirectoryIsReplacedOnceThenTheClaimFails) {
    FileOpsScenario world;
    const std::string staging = world.settings.stagingDirectory;
    struct Case {
        std::string name;
        std::function<void()> plant;
    };
    const Case cases[] = {
        {"other owner",
         [&] {
             makeDirectories(staging);
             ::chown(staging.c_str(), strangerUid, 0);
             ::chmod(staging.c_str(), 0700);
         }},
        {"mode 0755",
         [&] {
             makeDirectories(staging);
             ::chmod(staging.c_str(), 0755);
         }},
        {"a link", [&] { ::symlink(world.home().c_str(), staging.c_str()); }},
        {"a file", [&] { writeFile(staging, "x"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::rmdir(staging.c_str());
        c.plant();
        writeFile(world.at("item"), "x");
        const auto result = onlyItem(world.trash({world.at("item")}));
        EXPECT_EQ(result.outcome, ItemOutcome::ok());
        EXPECT_TRUE(
            loggedAt(world.logs(), LogLevel::fault, staging + " was not ours; replacing it"));
        struct stat st {};
        ASSERT_EQ(::lstat(staging.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode) && st.st_uid == 0 && (st.st_mode & 07777) == 0700);
        ASSERT_EQ(::unlink(world.trashed("item").c_str()), 0);
    }
    // A replacement that is not conforming either (here: made under a umask that leaves it
    // 0500) is not replaced a second time.
    ::chmod(staging.c_str(), 0755);
    writeFile(world.at("item"), "x");
    const mode_t saved = ::umask(0277);
    const auto result = onlyItem(world.trash({world.at("item")}));
    ::umask(saved);
    EXPECT_EQ(result.outcome, testing::failedWith(EPERM, "Operation not permitted"));
    EXPECT_TRUE(loggedAt(world.logs(), LogLevel::fault, "cannot claim " + staging));
    EXPECT_EQ(readFile(world.at("item")), "x");
}

TEST(TrashItems, TheStagingDirectoryAndItemsLeftInItAreNeverActedOn) {
    FileOpsScenario world;
    const std::string staging = world.settings.stagingDirectory;
    makeDirectories(staging + "/SOME-UUID");
    ::chmod(staging.c_str(), 0700);
    writeFile(staging + "/SOME-UUID/another-account's-item", "theirs");
    const auto before = listTree(staging);
    const auto trashed = testing::itemsOf(world.trash({staging, staging + "/SOME-UUID"}));
    const auto removed =
        testing::itemsOf(world.remove({staging + "/SOME-UUID/another-account's-item"}));
    ASSERT_EQ(trashed.size(), 2u);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(trashed[0].outcome,
              ItemOutcome::policyDenied("'" + staging + "' is a protected root"));
    const auto inside = ItemOutcome::policyDenied("inside protected subtree '" + staging + "'");
    EXPECT_EQ(trashed[1].outcome, inside);
    EXPECT_EQ(removed[0].outcome, inside);
    EXPECT_EQ(listTree(staging), before);
}

TEST(TrashItems, AnItemSwappedAfterItsCaptureIsPutBackAndReportedAsARace) {
    FileOpsScenario world;
    writeFile(world.at("item"), "checked");
    auto captured = captureItem(world.at("item"), world.at("item"));
    ASSERT_TRUE(std::holds_alternative<CapturedItem>(captured));
    ASSERT_EQ(::rename(world.at("item").c_str(), world.at("moved-away").c_str()), 0);
    writeFile(world.at("item"), "swapped in");
    const RootFileOps ops{world.uid(), world.account().gid(), world.home()};
    const auto result = trashItem(std::get<CapturedItem>(captured), ops, world.settings);
    EXPECT_EQ(result.outcome, ItemOutcome::raceDetected());
    EXPECT_EQ(readFile(world.at("item")), "swapped in");
    EXPECT_EQ(ownerOf(world.at("item")), 0u);
    EXPECT_EQ(listTree(world.settings.stagingDirectory).size(), 1u);
}

TEST(TrashItems, ItemsOnAnotherFileSystemAreCopiedIntoTheTrashAndReowned) {
    FileOpsScenario world;
    testing::ScratchMount mount(world.at("mnt"));
    ASSERT_TRUE(mount.mounted());
    // First through the staging directory (same file system as the item), then directly.
    const std::string sameFsStaging = world.at("mnt/staging");
    for (const std::string& staging : {sameFsStaging, world.settings.stagingDirectory}) {
        SCOPED_TRACE(staging);
        makeDirectories(world.at("mnt/tree/sub"));
        writeFile(world.at("mnt/tree/sub/f"), "data");
        ASSERT_EQ(::symlink("sub/f", world.at("mnt/tree/link").c_str()), 0);
        RootFileOpsSettings settings = world.settings;
        settings.stagingDirectory = staging;
        const auto result = onlyItem(RootFileOps::perform(
            HelperRequest{HelperRequest::TrashItems{{world.at("mnt/tree")}, world.uid()}},
            Caller::currentProcess(), settings));
        ASSERT_EQ(result.outcome, ItemOutcome::ok());
        ASSERT_TRUE(result.trashedPath.has_value());
        EXPECT_FALSE(pathExists(world.at("mnt/tree")));
        EXPECT_EQ(readFile(*result.trashedPath + "/sub/f"), "data");
        EXPECT_EQ(ownerOf(*result.trashedPath + "/link"), world.uid());
        EXPECT_EQ(ownerOf(*result.trashedPath + "/sub/f"), world.uid());
    }
    EXPECT_EQ(listTree(sameFsStaging).size(), 1u);
}

TEST(TrashItems, EightThreadsTrashingItemsOfTheSameNameLoseNone) {
    FileOpsScenario world;
    constexpr int threads = 8;
    for (int i = 0; i < threads; ++i) {
        makeDirectories(world.at("d" + std::to_string(i)));
        writeFile(world.at("d" + std::to_string(i) + "/same.txt"), std::to_string(i));
    }
    std::vector<ItemResult> results(threads);
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&, i] {
            results[i] = onlyItem(world.trash({world.at("d" + std::to_string(i) + "/same.txt")}));
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    std::set<std::string> places;
    std::set<std::string> contents;
    for (const auto& r : results) {
        ASSERT_EQ(r.outcome, ItemOutcome::ok()) << r.path;
        ASSERT_TRUE(r.trashedPath.has_value());
        places.insert(*r.trashedPath);
        contents.insert(readFile(*r.trashedPath));
    }
    EXPECT_EQ(places.size(), 8u);
    EXPECT_EQ(contents.size(), 8u);
    EXPECT_EQ(listTree(world.trashed("")).size(), 9u);
}

TEST(TrashItems, DeepTreeAndHugeDirectoryAreTrashedAndReowned) {
    FileOpsScenario world(HomeLocation::tmpfs);
    makeDirectories(world.at("deep"));
    ASSERT_TRUE(testing::makeDeepChain(world.at("deep"), 5000));
    makeDirectories(world.at("wide"));
    ASSERT_TRUE(testing::makeManyFiles(world.at("wide"), 200000));
    const auto results = testing::itemsOf(world.trash({world.at("deep"), world.at("wide")}));
    for (const auto& result : results) {
        EXPECT_EQ(result.outcome, ItemOutcome::ok()) << result.path;
    }
    EXPECT_EQ(ownerOf(world.trashed("wide/199999")), world.uid());
    EXPECT_EQ(ownerOf(world.trashed("deep/d/d/d/f")), world.uid());
    for (const auto& record : world.logs()) {
        EXPECT_NE(record.level, LogLevel::error) << record.message;
    }
    EXPECT_EQ(testing::itemsOf(world.remove({world.trashed("deep"), world.trashed("wide")})).size(),
              2u);
}

}  // namespace
}  // namespace kb
