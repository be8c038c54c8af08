#include "CleanerCore/policy/StatIdentity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/InodeAttributes.h"
#include "platform/UniqueFd.h"
#include "testing/RecordChecks.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

using testing::TempDir;
using testing::writeFile;

StatIdentity captured(const std::string& path) {
    return StatIdentity::capture(path).value().value();
}

void setModificationTime(const std::string& path, time_t seconds, long nanoseconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST(StatIdentity, CapturesEachKindOfEntryWithoutFollowingLinksAndNamesFailures) {
    TempDir dir;
    writeFile(dir / "file", "x");
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0750), 0);
    ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "dirlink").c_str()), 0);
    UniqueFd parent(::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));

    for (const auto& [name, type] : {std::pair<std::string, mode_t>{"file", S_IFREG},
                                     {"sub", S_IFDIR},
                                     {"dirlink", S_IFLNK}}) {
        SCOPED_TRACE(name);
        const FileStatus st = testing::statusOf(dir / name);
        const StatIdentity identity = captured(dir / name);
        EXPECT_EQ(identity, (StatIdentity{st.device, st.inode, st.modificationTime, st.ownerUID,
                                          st.mode, 0}));
        EXPECT_EQ(identity.isDirectory(), type == S_IFDIR);
        EXPECT_EQ(identity.isSymlink(), type == S_IFLNK);
        EXPECT_EQ(StatIdentity::capture(parent.get(), name).value(), identity);
    }

    // A missing entry yields nothing; any other failure is an I/O error on the shown path.
    EXPECT_EQ(StatIdentity::capture(dir / "missing").value(), std::nullopt);
    EXPECT_EQ(StatIdentity::capture(dir / "file/below").error(),
              CleanerError::io(dir / "file/below", ENOTDIR));
    EXPECT_EQ(StatIdentity::capture(parent.get(), "file/below", "/shown/path").error(),
              CleanerError::io("/shown/path", ENOTDIR));
}

TEST(StatIdentity, SecondsDecideMatchingNotSubSecondsOwnerModeOrFlagsWhichMirrorInodeAttributes) {
    TempDir dir;
    const std::string path = dir / "file";
    writeFile(path, "x");
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    for (const std::uint32_t set : {fileFlagImmutable, fileFlagAppendOnly, fileFlagNoDump,
                                    fileFlagImmutable | fileFlagAppendOnly | fileFlagNoDump, 0u}) {
        SCOPED_TRACE(set);
        ASSERT_TRUE(setFileFlags(fd.get(), set));
        const StatIdentity identity = captured(path);
        EXPECT_EQ(identity.flags, set);
        EXPECT_EQ(identity.isSystemImmutable(), (set & fileFlagImmutable) != 0);
        EXPECT_EQ(identity.isSystemAppendOnly(), (set & fileFlagAppendOnly) != 0);
        EXPECT_FALSE(identity.isUserImmutable());
        EXPECT_FALSE(identity.isSIPRestricted());
        EXPECT_EQ(StatIdentity::captureOpenFile(fd.get(), path).value(), identity);
    }

    setModificationTime(path, 1700000000, 100);
    const StatIdentity first = captured(path);
    setModificationTime(path, 1700000000, 999999999);
    EXPECT_EQ(captured(path), first);
    EXPECT_TRUE(captured(path).matches(first));

    setModificationTime(path, 1700000001, 100);
    const StatIdentity later = captured(path);
    EXPECT_NE(later, first);
    EXPECT_FALSE(later.matches(first));

    // Owner, mode and flags do not take part in matching.
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(::chown(path.c_str(), 12345, 12345), 0);
    const StatIdentity changed = captured(path);
    EXPECT_TRUE(changed.matches(later));
    EXPECT_NE(changed, later);
}

TEST(StatIdentity, JsonHasSixIntegersRoundTripsAndEveryFieldCounts) {
    const StatIdentity identity{UINT64_MAX, 1234567890123ULL, -5, 501, 0xA1ED, 0x00080000};
    EXPECT_EQ(testing::domainJson(identity),
              R"({"device":18446744073709551615,"flags":524288,"inode":1234567890123,)"
              R"("mode":41453,"modificationTime":-5,"ownerUID":501})");
    const std::vector<StatIdentity> samples{
        identity,           {1, 2, 3, 4, 5, 6}, {9, 2, 3, 4, 5, 6}, {1, 9, 3, 4, 5, 6},
        {1, 2, 9, 4, 5, 6}, {1, 2, 3, 9, 5, 6}, {1, 2, 3, 4, 9, 6}, {1, 2, 3, 4, 5, 9}};
    testing::expectRoundTripsAndHashes(samples);

    // Each field read as its own width and sign.
    const char* bad[] = {
        R"({"device":1,"inode":1,"modificationTime":1,"ownerUID":1,"mode":65536,"flags":0})",
        R"({"device":1,"inode":1,"modificationTime":1,"ownerUID":-1,"mode":1,"flags":0})",
        R"({"device":1,"inode":1,"modificationTime":1,"ownerUID":1,"mode":1,"flags":4294967296})",
        R"({"device":-1,"inode":1,"modificationTime":1,"ownerUID":1,"mode":1,"flags":0})",
        R"({"device":1,"inode":1,"modificationTime":9223372036854775808,"ownerUID":1,"mode":1,"flags":0})",
    };
    for (const char* text : bad) {
        EXPECT_FALSE(json::decode<StatIdentity>(text)) << text;
    }
}

}  // namespace
}  // namespace kb
