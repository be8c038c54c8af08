#include "platform/CrossVolumeMove.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/UniqueFd.h"
#include "testing/ScratchTree.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

using testing::idOf;
using testing::listTree;
using testing::makeDirectories;
using testing::pathExists;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

UniqueFd openDir(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// Moves the entry `name` of `from` into `to` under the first free one of `names`; the entry
// must be the object `id` (by default the one there now).
Result<MoveDone, MoveFailure> moveItem(const std::string& from, const std::string& name,
                                       const std::string& to, std::vector<std::string> names,
                                       std::optional<ObjectId> id = {}) {
    const DestinationNames next = [names](std::size_t i) {
        return i < names.size() ? std::optional(names[i]) : std::nullopt;
    };
    return moveAcrossVolumes(openDir(from).get(), name, id.value_or(idOf(from + "/" + name)),
                             openDir(to).get(), next);
}

int failureCode(const Result<MoveDone, MoveFailure>& moved) {
    return moved.ok() ? 0 : moved.error().error.code;
}

std::string attribute(const std::string& path, const char* name) {
    char value[256];
    const ssize_t n = ::lgetxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string() : std::string(value, static_cast<std::size_t>(n));
}

// A tree with contents, modes, owners, times, a link, an attribute and an ACL.
void buildSample(const std::string& root) {
    makeDirectories(root + "/sub/deeper");
    writeFile(root + "/sub/deeper/data", std::string(300000, 'x'));
    writeFile(root + "/top", "top");
    ASSERT_EQ(::symlink("sub/deeper/data", (root + "/link").c_str()), 0);
    ASSERT_EQ(::chmod((root + "/top").c_str(), 0640), 0);
    ASSERT_EQ(::chmod((root + "/sub").c_str(), 0750), 0);
    ASSERT_EQ(::lchown((root + "/link").c_str(), 4242001, 4242002), 0);
    ASSERT_EQ(::chown((root + "/sub/deeper/data").c_str(), 4242001, 4242002), 0);
    ASSERT_EQ(::setxattr((root + "/top").c_str(), "user.kind", "sample", 6, 0), 0);
    ASSERT_EQ(std::system(("setfacl -m u:4242001:r '" + root + "/top'").c_str()), 0);
    const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (root + "/sub/deeper").c_str(), past, 0), 0);
}

TEST(CrossVolumeMove, CopiesATreeWithItsMetadataBetweenExt4AndTmpfsOrHandsItToAnAccount) {
    TempDir disk;
    testing::ScratchMount mount(disk / "tmpfs");
    ASSERT_TRUE(mount.mounted());
    const std::pair<std::string, std::string> directions[] = {{disk / "src", disk / "tmpfs"},
                                                              {disk / "tmpfs/src", disk.path()}};
    for (const auto& [from, to] : directions) {
        SCOPED_TRACE(from);
        makeDirectories(from);
        buildSample(from + "/item");
        const auto before = listTree(from + "/item");
        const std::string acl = attribute(from + "/item/top", "system.posix_acl_access");
        auto moved = moveItem(from, "item", to, {"item"});
        ASSERT_TRUE(moved.ok()) << moved.error().message();
        EXPECT_FALSE(moved->originalLeft.has_value());
        EXPECT_FALSE(pathExists(from + "/item"));
        EXPECT_EQ(listTree(to + "/item"), before);
        EXPECT_EQ(readFile(to + "/item/sub/deeper/data"), std::string(300000, 'x'));
        EXPECT_EQ(attribute(to + "/item/top", "user.kind"), "sample");
        EXPECT_EQ(attribute(to + "/item/top", "system.posix_acl_access"), acl);
        EXPECT_EQ(testing::statusOf(to + "/item/sub/deeper").modificationTime, 1000000000);
        EXPECT_EQ(moved->id, idOf(to + "/item"));
    }

    // Handed to an account, the copy belongs to it entry by entry, losing set-id bits and file
    // capabilities as chown does, except another account's hard-linked file (decided by the
    // source's link count): that copy keeps the owner and mode.
    makeDirectories(disk / "handed/sub");
    writeFile(disk / "handed/sub/tool", "tool");
    ASSERT_EQ(::chmod((disk / "handed/sub/tool").c_str(), 04755), 0);
    // A version 2 capability set: effective, cap_net_raw permitted.
    const std::uint32_t capability[5] = {0x02000001, 1u << 13, 0, 0, 0};
    ASSERT_EQ(::setxattr((disk / "handed/sub/tool").c_str(), "security.capability", capability,
                         sizeof capability, 0),
              0);
    writeFile(disk / "secret", "secret");
    ASSERT_EQ(::chmod((disk / "secret").c_str(), 0600), 0);
    ASSERT_EQ(::link((disk / "secret").c_str(), (disk / "handed/hard").c_str()), 0);
    auto copied = copyItem(openDir(disk.path()).get(), "handed", idOf(disk / "handed"),
                           openDir(disk / "tmpfs").get(), "copy",
                           CopyAccount{4242001, 4242002, ForeignEntries::handOver});
    ASSERT_TRUE(copied.ok()) << copied.error().describe();
    EXPECT_EQ(copied->kept.keptOwner, std::vector<std::string>{"hard"});
    EXPECT_TRUE(pathExists(disk / "handed/hard"));
    const auto tool = testing::statusOf(disk / "tmpfs/copy/sub/tool");
    EXPECT_EQ(tool.ownerUID, 4242001u);
    EXPECT_EQ(tool.mode & 07777, 0755u);
    EXPECT_EQ(attribute(disk / "tmpfs/copy/sub/tool", "security.capability"), "");
    const auto hard = testing::statusOf(disk / "tmpfs/copy/hard");
    EXPECT_EQ(hard.ownerUID, 0u);
    EXPECT_EQ(hard.mode & 07777, 0600u);
    EXPECT_EQ(testing::ownerOf(disk / "tmpfs/copy"), 4242001u);
}

TEST(CrossVolumeMove, NeverReplacesAnEntryAndAFailedCopyKeepsTheOriginal) {
    TempDir disk;
    const std::string small = disk / "small";
    makeDirectories(small);
    ASSERT_EQ(::mount("kbscratch", small.c_str(), "tmpfs", 0, "size=256k"), 0);
    writeFile(disk / "file", "mine");
    writeFile(small + "/file", "theirs");
    writeFile(small + "/file 2", "theirs too");
    auto moved = moveItem(disk.path(), "file", small, {"file", "file 2", "file 3"});
    ASSERT_TRUE(moved.ok());
    EXPECT_EQ(moved->name, "file 3");
    EXPECT_EQ(readFile(small + "/file"), "theirs");
    EXPECT_EQ(readFile(small + "/file 2"), "theirs too");
    EXPECT_EQ(readFile(small + "/file 3"), "mine");
    writeFile(disk / "again", "again");
    const auto taken = listTree(small);
    EXPECT_EQ(moveItem(disk.path(), "again", small, {"file"}).error().kind,
              MoveFailure::Kind::noFreeName);
    EXPECT_EQ(readFile(disk / "again"), "again");

    makeDirectories(disk / "item/a");
    writeFile(disk / "item/a/first", "small");
    writeFile(disk / "item/a/big", std::string(2 << 20, 'b'));
    ASSERT_EQ(::mkfifo((disk / "fifo").c_str(), 0600), 0);
    const auto before = listTree(disk / "item");
    auto full = moveItem(disk.path(), "item", small, {"item"});
    ASSERT_FALSE(full.ok());
    EXPECT_EQ(full.error().kind, MoveFailure::Kind::failed);
    EXPECT_EQ(full.error().message(), "could not copy 'item/a/big': " + errorText(ENOSPC));
    EXPECT_EQ(failureCode(moveItem(disk.path(), "fifo", small, {"fifo"})), ENOTSUP);
    EXPECT_TRUE(pathExists(disk / "fifo"));
    EXPECT_EQ(failureCode(moveItem(disk.path(), "item", small, {"item"}, idOf(disk / "fifo"))),
              ESTALE);
    EXPECT_EQ(listTree(disk / "item"), before);
    EXPECT_EQ(listTree(small), taken);
    ::umount2(small.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace kb
