#include "platform/FileStatus.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/UniqueFd.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

TEST(FileStatus, DescribesALinkItselfUnlessAskedToFollowIt) {
    testing::TempDir dir;
    testing::writeFile(dir / "big", std::string(300000, 'b'));
    ASSERT_EQ(::symlink((dir / "big").c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "dirlink").c_str()), 0);
    UniqueFd parent(::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));

    const auto file = fileStatusAt(parent.get(), "big");
    ASSERT_TRUE(file.ok());
    EXPECT_TRUE(file->isRegular());
    EXPECT_EQ(file->size, 300000u);
    EXPECT_GE(file->blocks * 512, 300000u);
    const auto link = fileStatusAt(parent.get(), "link");
    ASSERT_TRUE(link.ok());
    EXPECT_TRUE(link->isSymlink());
    EXPECT_NE(link->id(), file->id());
    EXPECT_EQ(fileStatusAt(parent.get(), "link", FinalLink::follow)->id(), file->id());

    UniqueFd opened(::open((dir / "big").c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(fileStatusOf(opened.get()).value(), *file);
    EXPECT_FALSE(isDirectoryAt(parent.get(), "dirlink"));
    EXPECT_TRUE(isDirectoryAt(parent.get(), "dirlink", FinalLink::follow));

    const auto missing = fileStatusAt(parent.get(), "missing");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ENOENT);
    EXPECT_EQ(missing.error().path, "missing");
}

}  // namespace
}  // namespace kb
