#include "platform/InodeAttributes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "platform/UniqueFd.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

int rawAttributes(int fd) {
    int attributes = 0;
    EXPECT_EQ(::ioctl(fd, FS_IOC_GETFLAGS, &attributes), 0);
    return attributes;
}

// The mapping itself is the identity's test; here what the mapping must leave alone.
TEST(InodeAttributes, SetAndClearTouchOnlyTheMappedAttributesOfARealDescriptor) {
    testing::TempDir dir;
    UniqueFd fd(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    // "no atime updates" is not mapped and must survive every write.
    int attributes = rawAttributes(fd.get()) | FS_NOATIME_FL;
    ASSERT_EQ(::ioctl(fd.get(), FS_IOC_SETFLAGS, &attributes), 0);
    // An unknown bit in the request is ignored; clearing what is not set changes nothing.
    ASSERT_TRUE(setFileFlags(fd.get(), fileFlagImmutable | fileFlagNoDump | 0x00080000));
    EXPECT_EQ(readFileFlags(fd.get()).value(), fileFlagImmutable | fileFlagNoDump);
    ASSERT_TRUE(clearFileFlags(fd.get(), fileFlagImmutable | fileFlagAppendOnly));
    EXPECT_EQ(readFileFlags(fd.get()).value(), fileFlagNoDump);
    ASSERT_TRUE(clearFileFlags(fd.get(), inodeAttributeFileFlags));
    EXPECT_EQ(readFileFlags(fd.get()).value(), 0u);
    EXPECT_NE(rawAttributes(fd.get()) & FS_NOATIME_FL, 0);
    EXPECT_EQ(
        fileFlagsFromInodeAttributes(FS_IMMUTABLE_FL | FS_APPEND_FL | FS_NODUMP_FL | FS_NOATIME_FL),
        inodeAttributeFileFlags);

    const UniqueFd pathOnly(::open(dir.path().c_str(), O_PATH | O_CLOEXEC));
    EXPECT_EQ(readFileFlags(pathOnly.get()).error().code, EBADF);
    EXPECT_FALSE(clearFileFlags(pathOnly.get(), fileFlagImmutable));
}

}  // namespace
}  // namespace kb
