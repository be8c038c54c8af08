#include "helper/TrashOperation.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <thread>

#include "helper/StagingRecovery.h"
#include "helper/TrashNaming.h"
#include "helper/testing/FileOpsScenario.h"

namespace kb {
namespace {

using namespace kb::testing;

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
    // Too long with a number: the base is shortened (not inside a UTF-8 character).
    EXPECT_EQ(trashCandidate(std::string(251, 'a') + ".txt", 2), std::string(249, 'a') + " 2.txt");
    const std::string accented = std::string(246, 'a') + "\xC3\xA9\xC3\xA9";  // 250 bytes
    EXPECT_EQ(trashCandidate(accented + ".txt", 12), std::string(246, 'a') + "\xC3\xA9 12.txt");
    const std::string longExtension = "a." + std::string(252, 'e');
    EXPECT_EQ(trashCandidate(longExtension, 3), longExtension.substr(0, 253) + " 3");
}

TEST(TrashItems, TakenNamesGiveTheNextFreeOneEvenToEightThreadsAndTheTrashIsTheAccounts) {
    FileOpsScenario world;
    writeFile(world.at("a.txt"), "first");
    EXPECT_EQ(onlyItem(world.trash({world.at("a.txt")})),
              (ItemResult{world.at("a.txt"), ItemOutcome::ok(), world.trashed("a.txt")}));
    const auto st = statusOf(world.trashed(""));
    EXPECT_EQ(st.mode & 07777, 0700u);
    EXPECT_EQ(st.ownerUID, world.uid());
    EXPECT_EQ(st.groupID, world.account().gid());

    writeFile(world.trashed("a 2.txt"), "taken");
    writeFile(world.at("a.txt"), "third");
    EXPECT_EQ(onlyItem(world.trash({world.at("a.txt")})).trashedPath, world.trashed("a 3.txt"));
    EXPECT_EQ(readFile(world.trashed("a 3.txt")), "third");
    EXPECT_EQ(readFile(world.trashed("a.txt")), "first");

    // Eight threads trashing items of that name at once lose none.
    const auto item = [&](size_t i) { return world.at("d" + std::to_string(i) + "/a.txt"); };
    std::vector<ItemResult> results(8);
    for (size_t i = 0; i < results.size(); ++i) {
        putFile(item(i), std::to_string(i));
    }
    {
        std::vector<std::jthread> workers;
        for (size_t i = 0; i < results.size(); ++i) {
            workers.emplace_back([&, i] { results[i] = onlyItem(world.trash({item(i)})); });
        }
    }
    std::set<std::string> contents;
    for (const auto& r : results) {
        ASSERT_EQ(r.outcome, ItemOutcome::ok()) << r.path;
        contents.insert(readFile(r.trashedPath.value()));
    }
    EXPECT_EQ(contents.size(), 8u);
    EXPECT_EQ(listTree(world.trashed("")).size(), 12u);
    EXPECT_EQ(world.stagingLeftovers(), std::vector<std::string>{});
}

TEST(TrashItems, ASwappedItemIsARaceAndATrashThatIsNotADirectoryHasNoFreeName) {
    FileOpsScenario world;
    const auto captured = [&](const std::string& name) {
        return std::get<CapturedItem>(captureItem(world.at(name), world.at(name)));
    };
    writeFile(world.at("item"), "checked");
    const auto checked = captured("item");
    ASSERT_EQ(::rename(world.at("item").c_str(), world.at("moved-away").c_str()), 0);
    writeFile(world.at("item"), "x");
    EXPECT_EQ(trashItem(checked, world.ops(), world.settings).outcome, ItemOutcome::raceDetected());
    EXPECT_EQ(readFile(world.at("item")), "x");
    EXPECT_EQ(ownerOf(world.at("item")), 0u);
    EXPECT_EQ(world.stagingLeftovers(), std::vector<std::string>{});
    ASSERT_EQ(::rmdir(world.trashed("").c_str()), 0);  // left empty

    TempDir elsewhere;
    const auto noFreeName =
        ItemOutcome::failed(EEXIST, "no free name for this item in " + world.home() + "/.Trash");
    writeFile(world.at(".Trash"), "a file");
    EXPECT_EQ(onlyItem(world.trash({world.at("item")})).outcome, noFreeName);
    ASSERT_EQ(::unlink(world.at(".Trash").c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.path().c_str(), world.at(".Trash").c_str()), 0);
    EXPECT_EQ(onlyItem(world.trash({world.at("item")})).outcome, noFreeName);
    EXPECT_EQ(readFile(world.at("item")), "x");
    EXPECT_EQ(listTree(elsewhere.path()).size(), 1u);

    // One request keeps the Trash open, but a Trash replaced by a link between two of its
    // items is refused for the later one.
    ASSERT_EQ(::unlink(world.at(".Trash").c_str()), 0);
    writeFile(world.at("later"), "y");
    TrashRequest request(world.settings.stateDirectory);
    EXPECT_EQ(trashItem(captured("item"), world.ops(), request).outcome, ItemOutcome::ok());
    ASSERT_EQ(::rename(world.trashed("").c_str(), world.at("old-trash").c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.path().c_str(), world.at(".Trash").c_str()), 0);
    EXPECT_EQ(trashItem(captured("later"), world.ops(), request).outcome, noFreeName);
    EXPECT_EQ(readFile(world.at("later")), "y");
    EXPECT_EQ(listTree(elsewhere.path()).size(), 1u);
}

// On the Trash's file system the item itself is renamed (same inode); from another one it
// is copied. Either way the tree belongs to the account afterwards, links included, except
// a root file hard-linked into it: it keeps its owner and the account cannot read it. An
// ordinary account acting on its own authority is not handed what root left in its tree.
TEST(TrashItems, OneFileSystemRenamesTwoCopyAndOtherAccountsEntriesKeepTheirOwner) {
    FileOpsScenario world;
    ScratchMount mount(world.at("mnt"));
    ASSERT_TRUE(mount.mounted());
    Caller caller = Caller::currentProcess();
    caller.uid = world.uid();
    caller.gid = world.account().gid();
    for (const std::string& dir : {world.at("same"), world.at("mnt")}) {
        SCOPED_TRACE(dir);
        putFile(dir + "/root-only/secret", "secret");
        ::chmod((dir + "/root-only").c_str(), 0700);
        ::chmod((dir + "/root-only/secret").c_str(), 0600);
        putFile(dir + "/tree/a/b/f", "x");
        ASSERT_EQ(::symlink("/etc/shadow", (dir + "/tree/a/link").c_str()), 0);
        ASSERT_EQ(::link((dir + "/root-only/secret").c_str(), (dir + "/tree/hard").c_str()), 0);
        const auto before = statusOf(dir + "/tree");

        ASSERT_EQ(onlyItem(world.trash({dir + "/tree"})),
                  (ItemResult{dir + "/tree", ItemOutcome::ok(), world.trashed("tree")}));
        EXPECT_FALSE(pathExists(dir + "/tree"));
        EXPECT_EQ(statusOf(world.trashed("tree")).inode == before.inode, dir == world.at("same"));
        EXPECT_EQ(readFile(world.trashed("tree/a/b/f")), "x");
        for (const char* relative : {"tree", "tree/a", "tree/a/b", "tree/a/b/f", "tree/a/link"}) {
            EXPECT_EQ(ownerOf(world.trashed(relative)), world.uid()) << relative;
            EXPECT_EQ(groupOf(world.trashed(relative)), world.account().gid()) << relative;
        }
        EXPECT_EQ(ownerOf(dir + "/root-only/secret"), 0u);
        EXPECT_EQ(ownerOf(world.trashed("tree/hard")), 0u);
        EXPECT_EQ(world.account().runAs([&] {
            return ::open(world.trashed("tree/hard").c_str(), O_RDONLY | O_CLOEXEC) < 0 ? errno : 0;
        }),
                  EACCES);
        EXPECT_TRUE(std::ranges::any_of(world.log.records(), [](const LogRecord& r) {
            return r.level == LogLevel::error && r.message.starts_with("left the owner of") &&
                   r.message.find("/tree/hard") != std::string::npos;
        }));
        EXPECT_EQ(world.stagingLeftovers(), std::vector<std::string>{});
        ASSERT_EQ(std::system(("rm -rf '" + world.trashed("tree") + "'").c_str()), 0);

        putFile(dir + "/own/roots", "secret");
        ASSERT_EQ(::lchown((dir + "/own").c_str(), world.uid(), world.account().gid()), 0);
        const HelperRequest::TrashItems own{{dir + "/own"}, world.uid()};
        ASSERT_EQ(onlyItem(world.perform(own, caller)).outcome, ItemOutcome::ok());
        EXPECT_EQ(ownerOf(world.trashed("own")), world.uid());
        EXPECT_EQ(ownerOf(world.trashed("own/roots")), 0u);
        EXPECT_EQ(world.stagingLeftovers(), std::vector<std::string>{});
        ASSERT_EQ(std::system(("rm -rf '" + world.trashed("own") + "'").c_str()), 0);
    }
}

// The fixed staging path of earlier versions lies in a world-writable directory: an
// account creating something there changes nothing for anyone.
TEST(TrashItems, SquattingTheOldStagingPathOrNamingAStagedItemChangesNothing) {
    FileOpsScenario world;
    const std::string shared = world.scratch() / "var-tmp";
    makeDirectories(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    world.settings.stagingDirectory = shared + "/dev.kestrelbay.staging";
    const std::string squatted = world.settings.stagingDirectory;
    ASSERT_EQ(world.account().runAs([&] {
        return ::mkdir(squatted.c_str(), 0777) | ::mkdir((squatted + "/x").c_str(), 0777);
    }),
              0);
    writeFile(world.at("item"), "x");
    EXPECT_EQ(onlyItem(world.trash({world.at("item")})),
              (ItemResult{world.at("item"), ItemOutcome::ok(), world.trashed("item")}));
    recoverStaging(world.settings);
    EXPECT_EQ(ownerOf(squatted + "/x"), world.uid());

    // Nor are the staging subdirectory in the Trash and the items left in it.
    const std::string staging = world.trashed(".dev.kestrelbay.staging-SOME-UUID");
    putFile(staging + "/inner/another-account's-item", "theirs");
    ::chmod(staging.c_str(), 0700);
    const auto before = listTree(staging);
    const auto inside = ItemOutcome::policyDenied("inside protected subtree '" + staging + "'");
    EXPECT_EQ(onlyItem(world.remove({staging + "/inner/another-account's-item"})).outcome, inside);
    const auto trashed = itemsOf(world.trash({staging, staging + "/inner"}));
    ASSERT_EQ(trashed.size(), 2u);
    EXPECT_EQ(trashed[0].outcome,
              ItemOutcome::policyDenied("'" + staging + "' is a protected root"));
    EXPECT_EQ(trashed[1].outcome, inside);
    EXPECT_EQ(listTree(staging), before);
}

}  // namespace
}  // namespace kb
