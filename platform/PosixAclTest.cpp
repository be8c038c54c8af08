#include "platform/PosixAcl.h"

#include <fcntl.h>

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

UniqueFd openForReading(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
}

TEST(PosixAcl, RemovingAListNeverWidensTheOwningGroupAndFailsOnAnImmutableEntry) {
    // Shell commands that make "$f", and its mode once the list is gone.
    const std::string file = "touch \"$f\" && chmod ";
    const std::pair<std::string, mode_t> cases[] = {
        // The mask had widened the group bits.
        {file + "0640 \"$f\" && setfacl -m u:nobody:rwx \"$f\"", 0640},
        // The mask had narrowed the group entry.
        {file + "0660 \"$f\" && setfacl -m u:nobody:r,m::r \"$f\"", 0640},
        {file + "0604 \"$f\" && setfacl -m g:nogroup:rwx \"$f\"", 0604},
        {file + "04755 \"$f\" && setfacl -m u:nobody:r \"$f\"", 04755},  // special bits kept
        {file + "0777 \"$f\" && setfacl -m u:nobody:rwx,m::- \"$f\"", 0707},
        {"mkdir -m 0750 \"$f\" && setfacl -d -m u:nobody:rwx \"$f\"", 0750},  // default list
        {file + "0751 \"$f\"", 0751},  // no list: stays as it is
    };
    testing::TempDir dir;
    const std::string path = dir / "item";
    for (const auto& [make, after] : cases) {
        SCOPED_TRACE(make);
        shell("f='" + path + "'; rm -rf \"$f\"; " + make);
        const bool listed = !extendedEntries(path).empty();
        const auto fd = openForReading(path);
        EXPECT_EQ(hasPosixAcl(fd.get()).value(), listed);
        ASSERT_TRUE(removePosixAcl(fd.get()).ok());
        EXPECT_EQ(extendedEntries(path), "");
        EXPECT_EQ(testing::statusOf(path).mode & 07777, after);
        EXPECT_FALSE(hasPosixAcl(fd.get()).value());
    }
    // An immutable entry keeps its list, and the error says why.
    shell("setfacl -m u:nobody:r '" + path + "' && chattr +i '" + path + "'");
    const auto removed = removePosixAcl(openForReading(path).get());
    shell("chattr -i '" + path + "'");
    ASSERT_FALSE(removed.ok());
    EXPECT_EQ(removed.error().code, EPERM);
    EXPECT_NE(extendedEntries(path), "");
}

}  // namespace
}  // namespace kb
