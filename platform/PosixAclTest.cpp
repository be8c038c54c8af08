// Access control lists set with setfacl on real ext4 files, removed through removePosixAcl.
#include "platform/PosixAcl.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/UniqueFd.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

void shell(const std::string& command) {
    const auto r = testing::runChild({"/bin/sh", "-c", command});
    ASSERT_EQ(r.exitStatus, 0) << command << ": " << r.err;
}

std::string extendedEntries(const std::string& path) {
    return testing::runChild(
               {"/usr/bin/getfacl", "--skip-base", "--omit-header", "--absolute-names", path})
        .out;
}

mode_t modeOf(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

UniqueFd openForReading(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
}

TEST(PosixAcl, RemovingAListNeverWidensTheOwningGroup) {
    struct Case {
        mode_t mode;
        std::string entries;  // setfacl -m argument
        mode_t after;
    };
    const Case cases[] = {
        {0640, "u:nobody:rwx", 0640},       // the mask had widened the group bits
        {0660, "u:nobody:r,m::r", 0640},    // the mask had narrowed the group entry
        {0604, "g:nogroup:rwx", 0604},      // the group entry had nothing
        {04755, "u:nobody:r", 04755},       // special bits kept
        {0777, "u:nobody:rwx,m::-", 0707},  // a mask of nothing
    };
    testing::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entries);
        const std::string file = dir / "file";
        testing::writeFile(file, "data");
        ::chmod(file.c_str(), c.mode);
        shell("setfacl -m '" + c.entries + "' '" + file + "'");
        ASSERT_NE(extendedEntries(file), "");
        const auto fd = openForReading(file);
        EXPECT_TRUE(hasPosixAcl(fd.get()).ok() && *hasPosixAcl(fd.get()));
        ASSERT_TRUE(removePosixAcl(fd.get()).ok());
        EXPECT_EQ(extendedEntries(file), "");
        EXPECT_EQ(modeOf(file), c.after);
        EXPECT_TRUE(hasPosixAcl(fd.get()).ok() && !*hasPosixAcl(fd.get()));
        ::unlink(file.c_str());
    }
}

TEST(PosixAcl, DirectoriesLoseTheirDefaultListAndPlainFilesStayAsTheyAre) {
    testing::TempDir dir;
    const std::string sub = dir / "sub";
    shell("mkdir -m 0750 '" + sub + "' && setfacl -d -m u:nobody:rwx '" + sub + "'");
    ASSERT_NE(extendedEntries(sub), "");
    auto fd = openForReading(sub);
    ASSERT_TRUE(removePosixAcl(fd.get()).ok());
    EXPECT_EQ(extendedEntries(sub), "");
    EXPECT_EQ(modeOf(sub), 0750u);

    const std::string plain = dir / "plain";
    testing::writeFile(plain, "");
    ::chmod(plain.c_str(), 0751);
    fd = openForReading(plain);
    EXPECT_TRUE(hasPosixAcl(fd.get()).ok() && !*hasPosixAcl(fd.get()));
    ASSERT_TRUE(removePosixAcl(fd.get()).ok());
    EXPECT_EQ(modeOf(plain), 0751u);
}

TEST(PosixAcl, AnImmutableFileKeepsItsListAndReportsWhy) {
    testing::TempDir dir;
    const std::string file = dir / "locked";
    testing::writeFile(file, "");
    shell("setfacl -m u:nobody:r '" + file + "' && chattr +i '" + file + "'");
    const auto fd = openForReading(file);
    const auto removed = removePosixAcl(fd.get());
    shell("chattr -i '" + file + "'");
    ASSERT_FALSE(removed.ok());
    EXPECT_EQ(removed.error().code, EPERM);
    EXPECT_NE(extendedEntries(file), "");
}

}  // namespace
}  // namespace kb
