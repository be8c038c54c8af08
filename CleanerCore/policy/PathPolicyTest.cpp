#include "CleanerCore/policy/PathPolicy.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <unordered_set>

namespace kb {
namespace {

PolicyDecision allowed(std::string path) {
    return PolicyDecision::allowed(std::move(path));
}
template <PolicyReason (*reason)(std::string)>
PolicyDecision denial(std::string name) {
    return PolicyDecision::denied(reason(std::move(name)));
}
constexpr auto root = &denial<PolicyReason::deniedRoot>;
constexpr auto subtree = &denial<PolicyReason::deniedSubtree>;
constexpr auto location = &denial<PolicyReason::protectedLocation>;
constexpr auto byUser = &denial<PolicyReason::userProtected>;

std::string describe(const PolicyDecision& decision) {
    const std::string* path = decision.resolvedPath();
    return path ? "allowed " + *path : "denied: " + decision.reason()->description();
}

void expectTable(const PathPolicy& policy,
                 const std::vector<std::pair<std::string, PolicyDecision>>& rows) {
    for (const auto& [path, expected] : rows) {
        const PolicyDecision actual = policy.evaluate(path);
        EXPECT_EQ(actual, expected) << "path " << path << "\n  actual   " << describe(actual)
                                    << "\n  expected " << describe(expected);
    }
}

void expectEach(const PathPolicy& policy, PolicyDecision (*decision)(std::string),
                const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        expectTable(policy, {{path, decision(path)}});
    }
}

// Where no table decides but a cleaner may not reach: on Linux the denied subtree named by the
// path's first piece.
PolicyDecision unreachable(std::string path) {
#if defined(__APPLE__)
    return allowed(path);
#else
    return subtree(path.substr(0, path.find('/', 1)));
#endif
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
    const std::pair<PolicyReason, std::vector<std::string>> refusals[] = {
        {PolicyReason::unresolvable(ENAMETOOLONG),
         {pieces + "/a", pieces + "//./", longest + "x", longest + "\t/../x"}},
        {PolicyReason::emptyPath(), {""}},
        {PolicyReason::notAbsolute(), {"a/b", "./x"}},
        {PolicyReason::containsControlCharacters(),
         {"a\tb", "/tmp/a\x7f", "/tmp/a\nb", std::string("/tmp/a\0b", 8)}},
        {PolicyReason::containsParentReference(), {"/tmp/../etc", "/tmp/x/..", "/tmp//..//x"}},
    };
    for (const auto& [reason, paths] : refusals) {
        for (const auto& path : paths) {
            expectTable(policy, {{path, PolicyDecision::denied(reason)}});
        }
    }
    expectEach(policy, allowed, {pieces, longest, "/tmp/a..b", "/tmp/..."});

    const std::unordered_set<PolicyDecision> set{allowed("/a"), allowed("/b"), root("/a"),
                                                 PolicyDecision::denied(PolicyReason::emptyPath()),
                                                 allowed("/a")};
    EXPECT_EQ(set.size(), 4u) << "decisions compare and hash by value";
}

// The general tables, with a home directory that does not exist here (so resolution
// finds no existing ancestor and the text alone decides).
TEST(PathPolicy, GeneralTablesDecideInTheirOrder) {
    const PathPolicy policy("/Users/alice", {"/Users/alice/Projects"});
    expectTable(policy,
                {
                    {"//System///", root("/System")},
                    {"/system", root("/System")},
                    {"/SYSTEM/Library/x", subtree("/System")},
                    {"/usr/share/x", subtree("/usr")},
                    {"/users/ALICE/documents", root("/Users/alice/Documents")},
                    {"/Users/alice/Library/Keychains/login.keychain-db",
                     location("/Users/alice/Library/Keychains")},
                    {"/users/alice/library/keychainsx", location("keychainsx")},
                    {"/Users/alice/.aws/credentials", location("/Users/alice/.aws/credentials")},
                    {"/Users/alice/.ssh/id_ed25519", location("/Users/alice/.ssh")},
                    {"/Library/Keychains/System.keychain", location("Keychains")},
                    {"/tmp/x/.SSH/key", location(".SSH")},
                    {"/opt/1Password 7/data", location("1Password 7")},
                    {"/opt/My KeyChain (old)", location("My KeyChain (old)")},
                    {"/Users/alice/Projects/a", byUser("/Users/alice/Projects")},
                    {"/private/var/db/dyld", subtree("/private/var/db")},
                    {"/private/anything", subtree("/private")},
                    {"/private/etc/hosts", subtree("/private/etc")},
                    {"/Applications/Safari.app/Contents", subtree("/Applications/Safari.app")},
                    {"/Library/Application Support/com.apple.TCC/TCC.db",
                     subtree("/Library/Application Support/com.apple.TCC")},
                });
    expectEach(
        policy, root,
        {"/", "/usr/local", "/Users/alice", "/Users/alice/Documents", "/Users/bob", "/Users/Shared",
         "/private/var/folders/ab/cd/T", "/private/var/folders/ab", "/private/var/tmp"});
    expectEach(
        policy, allowed,
        {"/usr/local/bin/tool", "/Users/alice/Documents/report.txt", "/Users/alice/.aws/config",
         "/Users/alice/Projects2", "/Users/alice/projects/a", "/private/var/folders/ab/cd/T/item",
         "/private/var/tmp/x", "/private/var/db/receipts/com.example.pkg.bom"});
    expectEach(
        policy, unreachable,
        {"/Users/bob/x", "/Users/Shared/file", "/Private/anything", "/Applications/Foo.app"});
}

TEST(PathPolicy, LinuxTablesProtectTheSystemTheHomeAndWhatLiesOutsideTheReachablePlaces) {
    const PathPolicy policy("/home/alice");
    expectTable(policy, {
                            {"/etc/passwd", subtree("/etc")},
                            {"/home/alice/.local/share/keyrings/login.keyring",
                             location("/home/alice/.local/share/keyrings")},
                            {"/home/alice/.netrc", location("/home/alice/.netrc")},
                            {"/home/alice/.config/google-chrome/Default/Cookies",
                             location("/home/alice/.config/google-chrome")},
                            {"/home/alice/.docker/config.json",
                             location("/home/alice/.docker/config.json")},
                            {"/var/lib/dpkg/status", subtree("/var/lib")},
                            {"/usr/localx/y", subtree("/usr")},
                        });
    expectEach(policy, root,
               {"/etc", "/home/bob", "/home/alice", "/var/tmp", "/home/alice/.config"});
    expectEach(
        policy, allowed,
        {"/home/alice/.cache/thumbnails/a.png", "/home/alice/.config/app/cache/x",
         "/home/alice/.docker/other.json", "/home/bob/x", "/tmp/x", "/opt/app/x", "/media/usb/x",
         "/mnt/disk/x", "/var/tmp/x", "/var/cache/apt/archives/a.deb", "/var/log/old.log.1"});
    expectEach(policy, unreachable,
               {"/srv/www/index.html", "/data", "/lost+found/#1234", "/TMP/x", "/Home/alice/x",
                "/var/www/html/index.php", "/var/tmpx/y"});

    // The account's own home is reachable wherever the password database puts it; "/" as
    // a home makes nothing reachable but still protects what lies in it.
    const PathPolicy carol("/srv/users/carol");
    expectEach(carol, root, {"/srv/users/carol"});
    expectEach(carol, allowed, {"/srv/users/carol/.cache/x", "/home/alice/x"});
    expectEach(carol, unreachable, {"/srv/users/carolyn/x", "/srv/users"});
    const PathPolicy rootHome("/");
    expectTable(rootHome, {{"/.ssh/id", location("/.ssh")}});
    expectEach(rootHome, root, {"/", "/Documents"});
    expectEach(rootHome, unreachable, {"/srv/x"});
    expectTable(PathPolicy("/home/alice", {"/"}), {{"/opt/x", byUser("/")}});
}

TEST(PathPolicy, StagingAreasAreDeniedWhereverTheyAre) {
    const std::string fixed = "/var/tmp/dev.kestrelbay.staging";
    const std::string inTrash = "/home/alice/.Trash/.dev.kestrelbay.staging-Ab12Cd";
    const PathPolicy policy("/home/alice", {"/home/alice/.Trash"});
    const PathPolicy open("/home/alice");
    expectTable(open,
                {
                    {fixed + "/", root(fixed)},
                    {"/VAR/tmp/Dev.KestrelBay.Staging", root(fixed)},
                    {fixed + "/a/item", subtree(fixed)},
                    {fixed + "2/x", allowed(fixed + "2/x")},
                    {inTrash + "/item/.ssh", subtree(inTrash)},
                    {"/home/alice/.Trash/.DEV.kestrelbay.STAGING/x",
                     subtree("/home/alice/.Trash/.DEV.kestrelbay.STAGING")},
                    {"/srv/.dev.kestrelbay.staging-x/y", subtree("/srv/.dev.kestrelbay.staging-x")},
                });
    expectEach(open, root, {fixed, inTrash, "/tmp/.dev.kestrelbay.staging"});
    expectEach(open, allowed,
               {"/home/alice/.Trash/dev.kestrelbay.staging-x/item",
                "/home/alice/.Trash/x.dev.kestrelbay.staging/y"});
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
            {"/opt/E-l.e_c trum", location("E-l.e_c trum")},
            {decomposedHome + "/Library/\u212Aeychains/\xff",
             location(home + "/Library/Keychains")},
            {"/opt/key\xff"
             "chain",
             location("key\xff"
                      "chain")},
        });
    expectEach(policy, allowed, {"/opt/\u00c9lectrum", "/opt/E\u0332lectrum", "/opt/x/\xff\xfe/y"});
}

}  // namespace
}  // namespace kb
