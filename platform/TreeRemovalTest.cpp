#include "platform/TreeRemoval.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/BeneathResolution.h"
#include "testing/ScratchTree.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

using testing::idOf;
using testing::makeDirectories;
using testing::pathExists;
using testing::TempDir;
using testing::writeFile;

Result<void, WalkError> removeAt(const std::string& path, std::optional<ObjectId> id = {}) {
    auto parent = openParentDirectory(path);
    EXPECT_TRUE(parent.ok()) << path;
    return removeTree(parent->fd.get(), parent->name, id.value_or(idOf(path)));
}

TEST(TreeRemoval, RemovesANestedTreeWithLinksAsLinks) {
    TempDir dir;
    writeFile(dir / "keep", "keep");
    makeDirectories(dir / "item/a/b/c");
    writeFile(dir / "item/a/b/c/file", "x");
    writeFile(dir / "item/top", "x");
    ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "item/a/linkToDir").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "keep").c_str(), (dir / "item/a/b/linkToFile").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent", (dir / "item/dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "item/a/fifo").c_str(), 0600), 0);
    // A second top-level directory: the tree is shared between two workers.
    makeDirectories(dir / "item/second/d");
    ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "item/second/d/linkToDir").c_str()), 0);

    ASSERT_TRUE(removeAt(dir / "item").ok());
    EXPECT_FALSE(pathExists(dir / "item"));
    EXPECT_EQ(testing::readFile(dir / "keep"), "keep");
}

// Another directory in the captured one's place, then a link to it; a parent that is a link.
TEST(TreeRemoval, NotTheCapturedItemALinkedParentAMountPointOrAnImmutableFileStopsTheRemoval) {
    TempDir dir;
    makeDirectories(dir / "other/real");
    writeFile(dir / "other/keep", "keep");
    makeDirectories(dir / "item");
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "a link" : "another directory");
        if (link) {
            ASSERT_EQ(::rmdir((dir / "item").c_str()), 0);
            ASSERT_EQ(::symlink((dir / "other").c_str(), (dir / "item").c_str()), 0);
        }
        auto r = removeAt(dir / "item", idOf(dir / "other"));
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().problem, WalkProblem::directoryChanged);
        EXPECT_TRUE(pathExists(dir / "item"));
        EXPECT_EQ(testing::readFile(dir / "other/keep"), "keep");
    }
    EXPECT_EQ(openParentDirectory(dir / "item/real").error().code, ELOOP);
    for (const char* bad : {"/", "relative/x", "/a/..", "/a/."}) {
        auto r = openParentDirectory(bad);
        EXPECT_EQ(r.ok() ? 0 : r.error().code, EINVAL) << bad;
    }
    auto top = openParentDirectory("/tmp");
    ASSERT_TRUE(top.ok());
    EXPECT_EQ(top->name, "tmp");

    // A mount point or an immutable file stops the walk with its errno.
    makeDirectories(dir / "busy/sub");
    writeFile(dir / "busy/sub/before", "x");
    testing::ScratchMount mount(dir / "busy/mnt");
    ASSERT_TRUE(mount.mounted());
    writeFile(dir / "busy/mnt/mounted", "data");
    auto r = removeAt(dir / "busy");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().error.code, EBUSY);
    EXPECT_EQ(testing::readFile(dir / "busy/mnt/mounted"), "data");

    makeDirectories(dir / "locked");
    writeFile(dir / "locked/file", "x");
    if (std::system(("chattr +i '" + (dir / "locked/file") + "' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "file system keeps no immutable attribute";
    }
    r = removeAt(dir / "locked");
    EXPECT_EQ(std::system(("chattr -i '" + (dir / "locked/file") + "'").c_str()), 0);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().error.code, EPERM);
    EXPECT_TRUE(pathExists(dir / "locked/file"));
}

TEST(TreeRemoval, DeepTreeAndLargeFlatDirectoryAreRemovedWithinAFewDescriptors) {
    TempDir dir;
    // The deep chain on tmpfs: that many levels on the shared disk would dominate the
    // suite's time. The flat directory on the disk, where its listing is sorted by inode
    // and its entries are shared between two workers.
    testing::ScratchMount mount(dir / "fs");
    ASSERT_TRUE(mount.mounted());
    makeDirectories(dir / "fs/deep");
    ASSERT_TRUE(testing::makeDeepChain(dir / "fs/deep", 5000));
    makeDirectories(dir / "flat");
    ASSERT_TRUE(testing::makeManyFiles(dir / "flat", inodeOrderThreshold));
    // With fewer descriptors than levels, the walk must not hold one per level.
    testing::withDescriptorLimit(256, [&] {
        for (const char* item : {"fs/deep", "flat"}) {
            auto r = removeAt(dir / item);
            ASSERT_TRUE(r.ok()) << item << ": " << r.error().error.describe();
            EXPECT_FALSE(pathExists(dir / item));
        }
    });
}

}  // namespace
}  // namespace kb
