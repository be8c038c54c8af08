#include "platform/TreeOwnership.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include "platform/BeneathResolution.h"
#include "testing/ChildProcess.h"
#include "testing/ScratchTree.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

using testing::groupOf;
using testing::idOf;
using testing::makeDirectories;
using testing::ownerOf;
using testing::TempDir;
using testing::writeFile;

// Uid and gid no account on the machine uses; ownership needs no password entry.
constexpr uid_t someUid = 4242001;
constexpr gid_t someGid = 4242002;

ReownReport reownAt(const std::string& path, ForeignEntries foreign = ForeignEntries::handOver,
                    std::optional<ObjectId> id = {}) {
    auto parent = openParentDirectory(path);
    EXPECT_TRUE(parent.ok()) << path;
    return reownTree(parent->fd.get(), parent->name, id.value_or(idOf(path)), someUid, someGid,
                     foreign);
}

TEST(TreeOwnership, EveryEntryBelongsToTheAccountButNotLinkTargetsOthersEntriesOrMounts) {
    TempDir dir;
    writeFile(dir / "target", "t");
    writeFile(dir / "system-file", "secret");
    // Two top-level directories: the tree is shared between two workers.
    makeDirectories(dir / "item/a/b");
    makeDirectories(dir / "item/c");
    writeFile(dir / "item/a/b/file", "x");
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "item/a/link").c_str()), 0);
    ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "item/dirlink").c_str()), 0);
    ASSERT_EQ(::link((dir / "system-file").c_str(), (dir / "item/c/hardlink").c_str()), 0);
    testing::ScratchMount mount(dir / "item/mnt");
    ASSERT_TRUE(mount.mounted());
    writeFile(dir / "item/mnt/inside", "x");

    const auto report = reownAt(dir / "item");
    EXPECT_FALSE(report.firstError.has_value());
    for (const char* relative : {"", "/a", "/a/b", "/a/b/file", "/a/link", "/dirlink", "/c"}) {
        const std::string path = dir / "item" + std::string(relative);
        EXPECT_EQ(ownerOf(path), someUid) << path;
        EXPECT_EQ(groupOf(path), someGid) << path;
    }
    for (const std::string& path : {dir / "target", dir.path(), dir / "system-file",
                                    dir / "item/mnt", dir / "item/mnt/inside"}) {
        EXPECT_EQ(ownerOf(path), 0u) << path;
    }
    EXPECT_EQ(report.skippedCount, 1u);
    EXPECT_EQ(report.keptOwner, std::vector<std::string>{"c/hardlink"});

    // Keeping their owner, only the account's own entries change.
    makeDirectories(dir / "own/sub");
    writeFile(dir / "own/sub/roots", "secret");
    writeFile(dir / "own/file", "x");
    for (const char* mine : {"own", "own/sub", "own/file"}) {
        ASSERT_EQ(::lchown((dir / mine).c_str(), someUid, 0), 0);
    }
    const auto kept = reownAt(dir / "own", ForeignEntries::keepTheirOwner);
    EXPECT_FALSE(kept.firstError.has_value());
    for (const char* mine : {"own", "own/sub", "own/file"}) {
        EXPECT_EQ(groupOf(dir / mine), someGid) << mine;
    }
    EXPECT_EQ(ownerOf(dir / "own/sub/roots"), 0u);
    EXPECT_EQ(groupOf(dir / "own/sub/roots"), 0u);
    EXPECT_EQ(kept.keptOwner, std::vector<std::string>{"sub/roots"});
}

// Both ways an entry is changed: by name in a directory only root may modify, through the
// entry's descriptor in one that others may write. A file mounted over an entry is another
// file system and keeps its owner either way.
TEST(TreeOwnership, EntriesChangeInClosedAndOpenDirectoriesButAFileMountedOverOneDoesNot) {
    for (mode_t mode : {0755U, 0777U, 0775U}) {
        TempDir dir;
        writeFile(dir / "mounted", "m");
        makeDirectories(dir / "item/sub");
        ASSERT_EQ(::chmod((dir / "item/sub").c_str(), mode), 0);
        writeFile(dir / "item/sub/file", "x");
        writeFile(dir / "item/sub/over", "o");
        ASSERT_EQ(::mount((dir / "mounted").c_str(), (dir / "item/sub/over").c_str(), nullptr,
                          MS_BIND, nullptr),
                  0);
        reownAt(dir / "item");
        EXPECT_EQ(ownerOf(dir / "item/sub/file"), someUid) << mode;
        EXPECT_EQ(ownerOf(dir / "item/sub"), someUid) << mode;
        EXPECT_EQ(ownerOf(dir / "mounted"), 0u) << mode;
        ASSERT_EQ(::umount2((dir / "item/sub/over").c_str(), MNT_DETACH), 0);
    }
}

TEST(TreeOwnership, ASingleFileOrLinkIsReownedItselfOnlyWhileItIsTheCapturedObject) {
    TempDir dir;
    writeFile(dir / "file", "x");
    writeFile(dir / "other", "x");
    ASSERT_EQ(::symlink((dir / "file").c_str(), (dir / "link").c_str()), 0);
    reownAt(dir / "link");
    EXPECT_EQ(ownerOf(dir / "link"), someUid);
    EXPECT_EQ(ownerOf(dir / "file"), 0u);
    reownAt(dir / "file");
    EXPECT_EQ(ownerOf(dir / "file"), someUid);

    const auto report = reownAt(dir / "other", ForeignEntries::handOver, idOf(dir / "file"));
    ASSERT_TRUE(report.firstError.has_value());
    EXPECT_EQ(report.firstError->code, ESTALE);
    EXPECT_EQ(ownerOf(dir / "other"), 0u);
}

TEST(TreeOwnership, DeepTreeIsReownedWithinAFewDescriptors) {
    TempDir dir;
    testing::ScratchMount mount(dir / "fs");
    ASSERT_TRUE(mount.mounted());
    const std::string item = dir / "fs/item";
    makeDirectories(item);
    ASSERT_TRUE(testing::makeDeepChain(item, 5000));
    testing::withDescriptorLimit(256, [&] {
        const auto report = reownAt(item);
        EXPECT_FALSE(report.firstError.has_value()) << report.firstError->describe();
    });
    // Deeper than PATH_MAX: find walks by descriptors and names every entry left unchanged.
    const auto left =
        testing::runChild({"/usr/bin/find", item, "!", "-uid", std::to_string(someUid), "-o", "!",
                           "-gid", std::to_string(someGid)});
    EXPECT_EQ(left.exitStatus, 0) << left.err;
    EXPECT_EQ(left.out, "");
}

}  // namespace
}  // namespace kb
