#include "platform/PasswordDatabase.h"

#include <gtest/gtest.h>

#include "testing/TestAccount.h"

namespace kb {
namespace {

TEST(PasswordDatabase, FindsRealAccountsAndNothingForUnknownUids) {
    const auto root = lookUpAccount(0);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->name, "root");
    EXPECT_EQ(root->gid, 0u);
    EXPECT_EQ(root->home, "/root");

    testing::TestAccount account("kbpwd");
    ASSERT_TRUE(account.valid());
    const auto entry = lookUpAccount(account.uid());
    ASSERT_TRUE(entry);
    EXPECT_EQ(*entry, (AccountEntry{account.name(), account.uid(), account.gid(), account.home()}));

    EXPECT_FALSE(lookUpAccount(4000000000u));
}

}  // namespace
}  // namespace kb
