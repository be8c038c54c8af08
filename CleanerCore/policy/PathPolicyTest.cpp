#include "CleanerCore/policy/PathPolicy.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "testing/TestAccount.h"

namespace kb {
namespace {

struct Row {
    std::string path;
    PolicyDecision expected;
};

PolicyDecision allowed(std::string path) {
    return PolicyDecision::allowed(std::move(path));
}
PolicyDecision root(std::string name) {
    return PolicyDecision::denied(PolicyReason::deniedRoot(std::move(name)));
}
PolicyDecision subtree(std::string name) {
    return PolicyDecision::denied(PolicyReason::deniedSubtree(std::move(name)));
}
PolicyDecision location(std::string name) {
    return PolicyDecision::denied(PolicyReason::protectedLocation(std::move(name)));
}
PolicyDecision byUser(std::string name) {
    return PolicyDecision::denied(PolicyReason::userProtected(std::move(name)));
}
PolicyDecision denied(PolicyReason reason) {
    return PolicyDecision::denied(std::move(reason));
}
// A path no table decides that lies outside the places a cleaner may reach: on Linux the
// denied subtree named by its first piece.
PolicyDecision unlisted(std::string path, std::string firstPiece) {
#if defined(__APPLE__)
    (void)firstPiece;
    return allowed(std::move(path));
#else
    (void)path;
    return subtree(std::move(firstPiece));
#endif
}

std::string describe(const PolicyDecision& decision) {
    if (const auto* path = decision.resolvedPath()) {
        return "allowed " + *path;
    }
    return "denied: " + decision.reason()->description();
}

void expectTable(const PathPolicy& policy, const std::vector<Row>& rows) {
    for (const auto& row : rows) {
        const PolicyDecision actual = policy.evaluate(row.path);
        EXPECT_EQ(actual, row.expected)
            << "path " << row.path << "\n  actual   " << describe(actual) << "\n  expected "
            << describe(row.expected);
    }
}

TEST(PathPolicy, NormalizeDropsEmptyAndDotPiecesOnly) {
    const std::pair<std::string, std::string> table[] = {
        {"", "/"},
        {"/", "/"},
        {"//System///", "/System"},
        {"/./a/./b/.", "/a/b"},
        {"a/b", "/a/b"},
        {".", "/"},
        {"/a/../b", "/a/../b"},
        {"/a/.../b/.x", "/a/.../b/.x"},
        {"/a b/ c ", "/a b/ c "},
    };
    for (const auto& [input, output] : table) {
        EXPECT_EQ(PathPolicy::normalize(input), output) << input;
        EXPECT_EQ(PathPolicy::normalize(output), output) << output;
    }
}

TEST(PathPolicy, MalformedAndOverlongPathsAreDeniedBeforeAnythingElse) {
    const PathPolicy policy("/Users/alice");
    std::string pieces = "/tmp";
    for (int i = 1; i < 256; ++i) {
        pieces += "/a";
    }
    const std::string longest = "/tmp/" + std::string(PathPolicy::maximumPathBytes - 5, 'x');
    const PolicyDecision tooLong = denied(PolicyReason::unresolvable(ENAMETOOLONG));
    expectTable(policy, {
                            {pieces, allowed(pieces)},
                            {pieces + "/a", tooLong},
                            {pieces + "//./", tooLong},
                            {longest, allowed(longest)},
                            {longest + "x", tooLong},
                            {longest + "\t/../x", tooLong},
                            {"", denied(PolicyReason::emptyPath())},
                            {"a/b", denied(PolicyReason::notAbsolute())},
                            {"./x", denied(PolicyReason::notAbsolute())},
                            {"/tmp/a\tb", denied(PolicyReason::containsControlCharacters())},
                            {"a\tb", denied(PolicyReason::containsControlCharacters())},
                            {"/tmp/a\x7f", denied(PolicyReason::containsControlCharacters())},
                            {"/tmp/a\nb", denied(PolicyReason::containsControlCharacters())},
                            {std::string("/tmp/a\0b", 8),
                             denied(PolicyReason::containsControlCharacters())},
                            {"/tmp/../etc", denied(PolicyReason::containsParentReference())},
                            {"/tmp/x/..", denied(PolicyReason::containsParentReference())},
                            {"/tmp//..//x", denied(PolicyReason::containsParentReference())},
                            {"/tmp/a..b", allowed("/tmp/a..b")},
                            {"/tmp/...", allowed("/tmp/...")},
                        });
}

// The general tables, with a home directory that does not exist here (so resolution
// finds no existing ancestor and the text alone decides).
TEST(PathPolicy, GeneralTablesDecideInTheirOrder) {
    const PathPolicy policy("/Users/alice", {"/Users/alice/Projects"});
    expectTable(
        policy,
        {
            {"/", root("/")},
            {"//System///", root("/System")},
            {"/system", root("/System")},
            {"/SYSTEM/Library/x", subtree("/System")},
            {"/System/Library/x", subtree("/System")},
            {"/usr/local/bin/tool", allowed("/usr/local/bin/tool")},
            {"/usr/local", root("/usr/local")},
            {"/usr/share/x", subtree("/usr")},
            {"/Users/alice", root("/Users/alice")},
            {"/Users/alice/Documents", root("/Users/alice/Documents")},
            {"/users/ALICE/documents", root("/Users/alice/Documents")},
            {"/Users/alice/Documents/report.txt", allowed("/Users/alice/Documents/report.txt")},
            {"/Users/bob", root("/Users/bob")},
            {"/Users/bob/x", unlisted("/Users/bob/x", "/Users")},
            {"/Users/Shared", root("/Users/Shared")},
            {"/Users/Shared/file", unlisted("/Users/Shared/file", "/Users")},
            {"/Users/alice/Library/Keychains/login.keychain-db",
             location("/Users/alice/Library/Keychains")},
            {"/Users/alice/Library/Keychains", location("/Users/alice/Library/Keychains")},
            {"/users/alice/library/keychainsx", location("keychainsx")},
            {"/Users/alice/.aws/credentials", location("/Users/alice/.aws/credentials")},
            {"/Users/alice/.aws/config", allowed("/Users/alice/.aws/config")},
            {"/Users/alice/.ssh/id_ed25519", location("/Users/alice/.ssh")},
            {"/Library/Keychains/System.keychain", location("Keychains")},
            {"/tmp/x/.SSH/key", location(".SSH")},
            {"/opt/1Password 7/data", location("1Password 7")},
            {"/opt/My KeyChain (old)", location("My KeyChain (old)")},
            {"/Users/alice/Projects/a", byUser("/Users/alice/Projects")},
            {"/Users/alice/Projects", byUser("/Users/alice/Projects")},
            {"/Users/alice/Projects2", allowed("/Users/alice/Projects2")},
            {"/Users/alice/projects/a", allowed("/Users/alice/projects/a")},
            {"/private/var/folders/ab/cd/T", root("/private/var/folders/ab/cd/T")},
            {"/private/var/folders/ab", root("/private/var/folders/ab")},
            {"/private/var/folders/ab/cd/T/item", allowed("/private/var/folders/ab/cd/T/item")},
            {"/private/var/tmp", root("/private/var/tmp")},
            {"/private/var/tmp/x", allowed("/private/var/tmp/x")},
            {"/private/var/db/receipts/com.example.pkg.bom",
             allowed("/private/var/db/receipts/com.example.pkg.bom")},
            {"/private/var/db/dyld", subtree("/private/var/db")},
            {"/private/anything", subtree("/private")},
            {"/Private/anything", unlisted("/Private/anything", "/Private")},
            {"/private/etc/hosts", subtree("/private/etc")},
            {"/Applications", root("/Applications")},
            {"/Applications/Foo.app", unlisted("/Applications/Foo.app", "/Applications")},
            {"/Applications/Safari.app/Contents", subtree("/Applications/Safari.app")},
            {"/Library/Application Support/com.apple.TCC/TCC.db",
             subtree("/Library/Application Support/com.apple.TCC")},
            {"/dev/null", subtree("/dev")},
            {"/home", root("/home")},
        });
}

// The Linux tables, and on Linux whatever lies outside the places a cleaner may reach.
TEST(PathPolicy, LinuxTablesProtectTheSystemTheHomeAndWhatLiesOutsideTheReachablePlaces) {
    const PathPolicy policy("/home/alice");
    expectTable(
        policy,
        {
            {"/etc/passwd", subtree("/etc")},
            {"/etc", root("/etc")},
            {"/boot/vmlinuz", subtree("/boot")},
            {"/proc/1/mem", subtree("/proc")},
            {"/sys/kernel/x", subtree("/sys")},
            {"/home/bob", root("/home/bob")},
            {"/home/alice", root("/home/alice")},
            {"/root/.bashrc", subtree("/root")},
            {"/var", root("/var")},
            {"/var/tmp", root("/var/tmp")},
            {"/var/cache", root("/var/cache")},
            {"/srv", root("/srv")},
            {"/home/alice/.local/share/keyrings/login.keyring",
             location("/home/alice/.local/share/keyrings")},
            {"/home/alice/.local/share", root("/home/alice/.local/share")},
            {"/home/alice/.config", root("/home/alice/.config")},
            {"/home/alice/Videos", root("/home/alice/Videos")},
            {"/home/alice/.netrc", location("/home/alice/.netrc")},
            {"/home/alice/.config/google-chrome/Default/Cookies",
             location("/home/alice/.config/google-chrome")},
            {"/home/alice/.docker/config.json", location("/home/alice/.docker/config.json")},
            {"/home/alice/.cache/thumbnails/a.png", allowed("/home/alice/.cache/thumbnails/a.png")},
            {"/home/alice/.config/app/cache/x", allowed("/home/alice/.config/app/cache/x")},
            {"/home/alice/.docker/other.json", allowed("/home/alice/.docker/other.json")},
            {"/home/bob/x", allowed("/home/bob/x")},
            {"/tmp/x", allowed("/tmp/x")},
            {"/opt/app/x", allowed("/opt/app/x")},
            {"/media/usb/x", allowed("/media/usb/x")},
            {"/mnt/disk/x", allowed("/mnt/disk/x")},
            {"/usr/local/bin/tool", allowed("/usr/local/bin/tool")},
            {"/var/tmp/x", allowed("/var/tmp/x")},
            {"/var/cache/apt/archives/a.deb", allowed("/var/cache/apt/archives/a.deb")},
            {"/var/log/old.log.1", allowed("/var/log/old.log.1")},
            {"/var/lib/dpkg/status", subtree("/var/lib")},
            {"/srv/www/index.html", unlisted("/srv/www/index.html", "/srv")},
            {"/data", unlisted("/data", "/data")},
            {"/nix/store/x", unlisted("/nix/store/x", "/nix")},
            {"/lost+found/#1234", unlisted("/lost+found/#1234", "/lost+found")},
            {"/swapfile", unlisted("/swapfile", "/swapfile")},
            {"/TMP/x", unlisted("/TMP/x", "/TMP")},
            {"/Home/alice/x", unlisted("/Home/alice/x", "/Home")},
            {"/var/www/html/index.php", unlisted("/var/www/html/index.php", "/var")},
            {"/var/crash/core", unlisted("/var/crash/core", "/var")},
            {"/var/tmpx/y", unlisted("/var/tmpx/y", "/var")},
            {"/usr/localx/y", subtree("/usr")},
        });

    // The account's own home is reachable wherever the password database puts it; "/" as
    // a home makes nothing reachable.
    expectTable(PathPolicy("/srv/users/carol"),
                {
                    {"/srv/users/carol/.cache/x", allowed("/srv/users/carol/.cache/x")},
                    {"/srv/users/carol", root("/srv/users/carol")},
                    {"/srv/users/carolyn/x", unlisted("/srv/users/carolyn/x", "/srv")},
                    {"/srv/users", unlisted("/srv/users", "/srv")},
                    {"/home/alice/x", allowed("/home/alice/x")},
                });
    expectTable(PathPolicy("/"), {{"/srv/x", unlisted("/srv/x", "/srv")}});
}

TEST(PathPolicy, StagingAreasAreDeniedWhereverTheyAre) {
    const std::string fixed = "/var/tmp/dev.kestrelbay.staging";
    const std::string inTrash = "/home/alice/.Trash/.dev.kestrelbay.staging-Ab12Cd";
    const PathPolicy policy("/home/alice", {"/home/alice/.Trash"});
    const PathPolicy open("/home/alice");
    expectTable(open,
                {
                    {fixed, root(fixed)},
                    {fixed + "/", root(fixed)},
                    {"/VAR/tmp/Dev.KestrelBay.Staging", root(fixed)},
                    {fixed + "/a/item", subtree(fixed)},
                    {fixed + "2/x", allowed(fixed + "2/x")},
                    {inTrash, root(inTrash)},
                    {inTrash + "/item/.ssh", subtree(inTrash)},
                    {"/home/alice/.Trash/.DEV.kestrelbay.STAGING/x",
                     subtree("/home/alice/.Trash/.DEV.kestrelbay.STAGING")},
                    {"/tmp/.dev.kestrelbay.staging", root("/tmp/.dev.kestrelbay.staging")},
                    {"/srv/.dev.kestrelbay.staging-x/y", subtree("/srv/.dev.kestrelbay.staging-x")},
                    {"/home/alice/.Trash/dev.kestrelbay.staging-x/item",
                     allowed("/home/alice/.Trash/dev.kestrelbay.staging-x/item")},
                    {"/home/alice/.Trash/x.dev.kestrelbay.staging/y",
                     allowed("/home/alice/.Trash/x.dev.kestrelbay.staging/y")},
                });
    // Before every other list, the user's own entries included.
    expectTable(policy, {{inTrash + "/item", subtree(inTrash)}});
}

TEST(PathPolicy, UnicodeEquivalentsAndCaseCompareAsTheTablesSay) {
    const std::string home = "/Users/Zo\u00eb";  // precomposed
    const std::string decomposedHome = "/Users/Zoe\u0308";
    const PathPolicy policy(home, {"/Users/Zo\u00eb/Caf\u00e9"});
    expectTable(
        policy,
        {
            {decomposedHome, root(home)},
            {decomposedHome + "/Documents", root(home + "/Documents")},
            {"/USERS/ZO\u00cb/DOCUMENTS", root(home + "/Documents")},
            {decomposedHome + "/Library/\u212Aeychains/x", location(home + "/Library/Keychains")},
            {decomposedHome + "/Cafe\u0301/x", byUser(home + "/Caf\u00e9")},
            {decomposedHome + "/CAF\u00c9/x", allowed(decomposedHome + "/CAF\u00c9/x")},
            {"/opt/\u212AEYCHAIN-backup", location("\u212AEYCHAIN-backup")},
            {"/opt/\u00c9lectrum", allowed("/opt/\u00c9lectrum")},
            {"/opt/E-l.e_c trum", location("E-l.e_c trum")},
            {"/opt/E\u0332lectrum", allowed("/opt/E\u0332lectrum")},
            {"/opt/x/\xff\xfe/y", allowed("/opt/x/\xff\xfe/y")},
            {decomposedHome + "/Library/\u212Aeychains/\xff",
             location(home + "/Library/Keychains")},
            {"/opt/key\xff"
             "chain",
             location("key\xff"
                      "chain")},
        });
}

TEST(PathPolicy, OddHomeDirectoriesStillProtectTheirContents) {
    const PathPolicy rootHome("/");
    expectTable(rootHome, {
                              {"/", root("/")},
                              {"/Documents", root("/Documents")},
                              {"/.ssh/id", location("/.ssh")},
                          });
    const PathPolicy everything("/Users/alice", {"/"});
    expectTable(everything, {{"/opt/x", byUser("/")}});
}

TEST(PathPolicy, ForUserReadsTheAccountsHomeDirectory) {
    testing::TestAccount account("kbpol");
    ASSERT_TRUE(account.valid());
    auto policy = PathPolicy::forUser(*lookUpAccount(account.uid()), {"//x/./y/"});
    ASSERT_TRUE(policy.has_value());
    EXPECT_EQ(policy->homeDirectory(), account.home());
    EXPECT_EQ(policy->userProtectedPaths(), std::vector<std::string>{"/x/y"});
    EXPECT_EQ(policy->evaluate(account.home() + "/.cache/a.png"),
              allowed(account.home() + "/.cache/a.png"));
    EXPECT_EQ(policy->evaluate(account.home()), root(account.home()));

    EXPECT_FALSE(PathPolicy::forUser(AccountEntry{"nohome", 4000, 4000, ""}).has_value());
}

}  // namespace
}  // namespace kb
