// clearProtection on real ext4 files and directories of a real account, with attributes set
// by chattr and lists set by setfacl.
#include "helper/ClearProtectionOperation.h"

#include <gtest/gtest.h>

#include "helper/testing/FileOpsScenario.h"
#include "testing/ChildProcess.h"

namespace kb {
namespace {

using namespace kb::testing;

class ClearProtectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(account.valid());
        makeDirectories(root);
    }
    // Runs `command` in `root`, where the items are named relative to it.
    std::string sh(const std::string& command) {
        const auto r = runChild({"/bin/sh", "-c", "cd '" + root + "' && " + command});
        EXPECT_EQ(r.exitStatus, 0) << command << ": " << r.err;
        return r.out;
    }
    // Whether lsattr shows `letter` for the item itself.
    bool hasAttribute(const std::string& name, char letter) {
        const std::string line = sh("lsattr -d " + name);
        return line.substr(0, line.find(' ')).find(letter) != std::string::npos;
    }
    // Extended list entries (nothing for a plain mode).
    std::string extendedAcl(const std::string& name) {
        return sh("getfacl --skip-base --omit-header " + name);
    }
    ItemResult clear(const std::string& path) {
        return onlyItem(clearProtection({path, account.uid()}, asRoot(), {}));
    }
    static ItemResult okFor(const std::string& path) {
        return {path, ItemOutcome::ok(), std::nullopt};
    }

    TestAccount account{"kbproc"};
    std::string root = account.home() + "/Projects";
};

TEST_F(ClearProtectionTest, ClearsImmutableAndAppendOnlyAndKeepsOtherAttributes) {
    // Both, with no-dump and no-atime; an append-only directory with no-dump; neither.
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"touch", "+iadA", "dA"},
        {"mkdir", "+ad", "d"},
        {"touch", "+d", "d"},
    };
    for (const auto& [make, set, kept] : cases) {
        SCOPED_TRACE(set);
        sh(std::string(make) + " item && chattr " + set + " item");
        EXPECT_EQ(clear(root + "/item"), okFor(root + "/item"));
        EXPECT_FALSE(hasAttribute("item", 'i'));
        EXPECT_FALSE(hasAttribute("item", 'a'));
        for (const char letter : kept) {
            EXPECT_TRUE(hasAttribute("item", letter)) << letter;
        }
        sh("rm -r item");  // possible now
    }
}

TEST_F(ClearProtectionTest, StripsListsWithoutWideningTheGroup) {
    // Immutable with a list: the attribute is cleared first, then the list can go.
    const std::string locked = root + "/locked";
    sh("touch locked && chmod 0604 locked && setfacl -m g:nogroup:r,m::rw locked && "
       "chattr +i locked");
    ASSERT_EQ(statusOf(locked).mode & 07777, 0664u);  // the group bits now show the mask
    EXPECT_EQ(clear(locked), okFor(locked));
    EXPECT_FALSE(hasAttribute("locked", 'i'));
    EXPECT_EQ(extendedAcl("locked"), "");
    EXPECT_EQ(statusOf(locked).mode & 07777, 0604u);

    // A directory loses its default list too; its contents keep theirs.
    sh("mkdir dir && chmod 2750 dir && touch dir/inner && setfacl -m u:nobody:r dir/inner && "
       "setfacl -m u:nobody:rx -d -m u:nobody:rwx dir && chattr +i dir");
    EXPECT_EQ(clear(root + "/dir"), okFor(root + "/dir"));
    EXPECT_EQ(extendedAcl("dir"), "");
    EXPECT_EQ(statusOf(root + "/dir").mode & 07777, 02750u);
    EXPECT_NE(extendedAcl("dir/inner"), "");
}

TEST_F(ClearProtectionTest, ALinkIsHandledAsTheLinkAndMissingOrDeniedItemsAreRefused) {
    sh("touch target && setfacl -m u:nobody:r target && chattr +i target && ln -s target link");
    EXPECT_EQ(clear(root + "/link"), okFor(root + "/link"));
    EXPECT_TRUE(hasAttribute("target", 'i'));
    EXPECT_NE(extendedAcl("target"), "");

    sh("mkfifo fifo");
    EXPECT_EQ(clear(root + "/fifo"), okFor(root + "/fifo"));  // not opened, so no reader is needed

    EXPECT_EQ(clear(root + "/missing"),
              (ItemResult{root + "/missing", ItemOutcome::notFound(), std::nullopt}));
    EXPECT_TRUE(
        std::holds_alternative<ItemOutcome::PolicyDenied>(clear("/etc/passwd").outcome.kind));
    EXPECT_EQ(clearProtection({root + "/x", 0}, asRoot(), {}),
              HelperResponse::error("uid 0 is not a user account this helper will act for"));
    EXPECT_EQ(clearProtection({"", account.uid()}, asRoot(), {}).kind.index(), 1u);  // items
}

}  // namespace
}  // namespace kb
