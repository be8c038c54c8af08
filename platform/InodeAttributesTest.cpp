#include "platform/InodeAttributes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST(InodeAttributes, SetAndClearTouchOnlyTheMappedAttributes) {
    testing::TempDir dir;
    ASSERT_EQ(::mkdir((dir / "d").c_str(), 0755), 0);
    UniqueFd fd(::open((dir / "d").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    // "no atime updates" is not mapped and must survive every write.
    int attributes = rawAttributes(fd.get()) | FS_NOATIME_FL;
    ASSERT_EQ(::ioctl(fd.get(), FS_IOC_SETFLAGS, &attributes), 0);

    struct Step {
        enum { set, clear } action;
        std::uint32_t flags;
        std::uint32_t expected;
    };
    const Step steps[] = {
        {Step::set, fileFlagImmutable | fileFlagNoDump | 0x00080000,
         fileFlagImmutable | fileFlagNoDump},
        {Step::set, fileFlagAppendOnly, fileFlagAppendOnly},
        {Step::set, inodeAttributeFileFlags, inodeAttributeFileFlags},
        {Step::clear, fileFlagImmutable, fileFlagAppendOnly | fileFlagNoDump},
        {Step::clear, fileFlagImmutable, fileFlagAppendOnly | fileFlagNoDump},
        {Step::clear, inodeAttributeFileFlags, 0},
    };
    for (const auto& step : steps) {
        const auto result = step.action == Step::set ? setFileFlags(fd.get(), step.flags)
                                                     : clearFileFlags(fd.get(), step.flags);
        ASSERT_TRUE(result) << result.error().describe();
        EXPECT_EQ(readFileFlags(fd.get()).value(), step.expected);
        EXPECT_NE(rawAttributes(fd.get()) & FS_NOATIME_FL, 0);
    }
    EXPECT_EQ(
        fileFlagsFromInodeAttributes(FS_IMMUTABLE_FL | FS_APPEND_FL | FS_NODUMP_FL | FS_NOATIME_FL),
        inodeAttributeFileFlags);
}

TEST(InodeAttributes, APathOnlyDescriptorIsRefused) {
    testing::TempDir dir;
    testing::writeFile(dir / "f", "x");
    UniqueFd fd(::open((dir / "f").c_str(), O_PATH | O_CLOEXEC));
    ASSERT_TRUE(fd);
    const auto flags = readFileFlags(fd.get());
    ASSERT_FALSE(flags);
    EXPECT_EQ(flags.error().code, EBADF);
    EXPECT_EQ(flags.error().step, "FS_IOC_GETFLAGS");
    EXPECT_FALSE(clearFileFlags(fd.get(), fileFlagImmutable));
}

}  // namespace
}  // namespace kb
