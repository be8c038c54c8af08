#include "platform/VolumeCapacity.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include "testing/TempDir.h"

namespace kb {
namespace {

TEST(VolumeCapacity, ReadsTheFiguresOfTheHoldingFileSystem) {
    testing::TempDir dir;
    const auto capacity = volumeCapacity(dir.path());
    ASSERT_TRUE(capacity.ok());
    struct statvfs figures {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &figures), 0);
    EXPECT_EQ(capacity->totalBytes, std::uint64_t{figures.f_blocks} * figures.f_frsize);
    EXPECT_GT(capacity->totalBytes, 0u);
    EXPECT_LE(capacity->availableBytes, capacity->freeBytes);
    EXPECT_LE(capacity->freeBytes, capacity->totalBytes);
}

TEST(VolumeCapacity, FailsWithTheSystemError) {
    testing::TempDir dir;
    testing::writeFile(dir / "file", "x");
    EXPECT_EQ(volumeCapacity(dir / "missing").error().code, ENOENT);
    EXPECT_EQ(volumeCapacity(dir / "file/below").error().code, ENOTDIR);
}

}  // namespace
}  // namespace kb
