// Where a caller's own authority ends: the home it owns, resolved, and nothing above it.
#include "helper/Authority.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <tuple>

#include "testing/TempDir.h"
#include "testing/TestAccount.h"

namespace kb {
namespace {

TEST(Authority, OnlyPathsStrictlyBelowTheDirectoryLieInsideIt) {
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"/home/u/a", "/home/u", true},   {"/home/u/a/b", "/home/u", true},
        {"/home/u", "/home/u", false},    {"/home/u/", "/home/u", false},
        {"/home/uu/a", "/home/u", false}, {"/home/a", "/home/u", false},
        {"/etc/passwd", "/", false},      {"/home/u/a", "", false},
    };
    for (const auto& [path, directory, inside] : cases) {
        EXPECT_EQ(liesInside(path, directory), inside) << path << " in " << directory;
    }
}

TEST(Authority, TheOwnHomeIsResolvedAndMustBelongToTheAccount) {
    testing::TempDir place;
    testing::TestAccount linked("kbauth", place.path());
    // The database names a link to the home: the home is where the link leads.
    const std::string real = place / "real-home";
    ASSERT_EQ(::rename(linked.home().c_str(), real.c_str()), 0);
    ASSERT_EQ(::symlink(real.c_str(), linked.home().c_str()), 0);
    const AccountEntry account = *lookUpAccount(linked.uid());
    EXPECT_EQ(ownHome(account), real);
    // A home that belongs to someone else is no one's own place.
    ASSERT_EQ(::chown(real.c_str(), 0, 0), 0);
    EXPECT_EQ(ownHome(account), std::nullopt);
    ASSERT_EQ(::unlink(linked.home().c_str()), 0);
    ASSERT_EQ(::rename(real.c_str(), linked.home().c_str()), 0);
    EXPECT_EQ(ownHome(AccountEntry{"nohome", account.uid, account.gid, ""}), std::nullopt);
}

}  // namespace
}  // namespace kb
