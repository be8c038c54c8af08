// Resolution of parent directories on real trees and symbolic links, plus the error
// numbers only a test double can produce on demand.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "CleanerCore/policy/PathPolicy.h"
#include "testing/TempDir.h"
#include "testing/TestAccount.h"

namespace kb {
namespace {

using testing::TempDir;

std::string describe(const PolicyDecision& decision) {
    if (const auto* path = decision.resolvedPath()) {
        return "allowed " + *path;
    }
    return "denied: " + decision.reason()->description();
}

#define EXPECT_DECISION(policy, path, expected)                                             \
    do {                                                                                    \
        const PolicyDecision actual_ = (policy).evaluate(path);                             \
        EXPECT_EQ(actual_, (expected))                                                      \
            << "path " << (path) << "\n  actual   " << describe(actual_) << "\n  expected " \
            << describe(expected);                                                          \
    } while (false)

void makeLink(const std::string& target, const std::string& link) {
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
}

void makeDir(const std::string& path, mode_t mode = 0755) {
    ASSERT_EQ(::mkdir(path.c_str(), mode), 0) << path;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

PolicyDecision escape(std::string resolved, const PolicyReason& underlying) {
    return PolicyDecision::denied(
        PolicyReason::symlinkEscape(std::move(resolved), underlying.description()));
}

TEST(PathPolicyResolution, ParentsAreResolvedAndTheFinalComponentNeverIs) {
    TempDir dir;
    const PathPolicy policy("/home/nobody-kbpol");
    makeDir(dir / "real");
    testing::writeFile(dir / "file", "x");
    makeLink("/etc", dir / "etc");
    makeLink("/etc/passwd", dir / "passwd");
    makeLink(dir / "real", dir / "alias");
    makeLink("/nonexistent-kbpol/x", dir / "dangling");
    makeLink("loop", dir / "loop");

    const std::string nfcName = "caf\u00e9";
    const std::string nfdName = "cafe\u0301";
    makeDir(dir / nfdName);
    makeLink(dir / nfdName, dir / nfcName);

    struct Row {
        std::string path;
        PolicyDecision expected;
    };
    const Row rows[] = {
        {dir / "passwd", PolicyDecision::allowed(dir / "passwd")},
        {dir / "etc", PolicyDecision::allowed(dir / "etc")},
        {dir / "etc/passwd", escape("/etc/passwd", PolicyReason::deniedSubtree("/etc"))},
        {dir / "etc/../../x", PolicyDecision::denied(PolicyReason::containsParentReference())},
        {dir / "alias/x", PolicyDecision::allowed(dir / "real/x")},
        {dir / "alias/missing/deeper/x", PolicyDecision::allowed(dir / "real/missing/deeper/x")},
        {dir / "alias//./x/", PolicyDecision::allowed(dir / "real/x")},
        {dir / "real/x", PolicyDecision::allowed(dir / "real/x")},
        {dir / "missing/x/y", PolicyDecision::allowed(dir / "missing/x/y")},
        {dir / "file/x", PolicyDecision::allowed(dir / "file/x")},
        {dir / "dangling", PolicyDecision::allowed(dir / "dangling")},
        {dir / "dangling/x", PolicyDecision::denied(PolicyReason::unresolvable(ENOENT))},
        {dir / "loop/x", PolicyDecision::denied(PolicyReason::unresolvable(ELOOP))},
        {dir / (nfcName + "/x"), PolicyDecision::allowed(dir / (nfcName + "/x"))},
        {"/kbpol-nonexistent/a/b", PolicyDecision::allowed("/kbpol-nonexistent/a/b")},
        {"/kbpol-nonexistent", PolicyDecision::allowed("/kbpol-nonexistent")},
    };
    for (const auto& row : rows) {
        EXPECT_DECISION(policy, row.path, row.expected);
    }
}

TEST(PathPolicyResolution, LinksIntoTheHomeAreJudgedByWhereTheyLead) {
    TempDir dir;
    const std::string home = dir / "realhome";
    makeDir(home);
    makeDir(home + "/.ssh");
    makeDir(home + "/.cache");
    makeLink(home, dir / "homelink");
    makeLink(home + "/.ssh", dir / "keys");

    const PathPolicy policy(dir / "homelink//");
    EXPECT_EQ(policy.homeDirectory(), home);
    EXPECT_DECISION(policy, dir / "homelink/Documents",
                    escape(home + "/Documents", PolicyReason::deniedRoot(home + "/Documents")));
    EXPECT_DECISION(policy, dir / "keys/id_rsa",
                    escape(home + "/.ssh/id_rsa", PolicyReason::protectedLocation(home + "/.ssh")));
    EXPECT_DECISION(policy, dir / "homelink/.cache/x", PolicyDecision::allowed(home + "/.cache/x"));
    EXPECT_DECISION(policy, dir / "keys", PolicyDecision::allowed(dir / "keys"));

    const PathPolicy missingHome(dir / "gone//home/");
    EXPECT_EQ(missingHome.homeDirectory(), dir / "gone/home");
}

TEST(PathPolicyResolution, AnUnsearchableParentIsUnresolvableWithItsErrorNumber) {
    TempDir dir;
    const std::string locked = dir / "locked";
    makeDir(locked, 0700);
    makeDir(locked + "/sub");
    testing::TestAccount account("kbpol");
    ASSERT_TRUE(account.valid());
    const PathPolicy policy(account.home());
    const int status = account.runAs([&] {
        if (policy.evaluate(locked + "/sub/x") !=
            PolicyDecision::denied(PolicyReason::unresolvable(EACCES))) {
            return 1;
        }
        // The locked directory itself can still be canonicalized: its parent is searchable.
        if (policy.evaluate(locked + "/x") != PolicyDecision::allowed(locked + "/x")) {
            return 2;
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
}

// Stands in for the real file system where a test needs error numbers (EIO) or a layout
// (/private/etc behind /etc) that this machine cannot provide.
class FakeFileSystem final : public PolicyFileSystem {
  public:
    std::map<std::string, int> probeErrors;             // entryExists fails
    std::map<std::string, std::string> canonicalForms;  // existing entries
    std::map<std::string, int> canonicalErrors;         // existing, realpath fails
    mutable std::vector<std::string> calls;

    Result<EntryPresence, int> entryExists(const std::string& path) const override {
        calls.push_back("probe " + path);
        if (auto e = probeErrors.find(path); e != probeErrors.end()) {
            return fail(e->second);
        }
        return canonicalForms.count(path) != 0 || canonicalErrors.count(path) != 0
                   ? EntryPresence::exists
                   : EntryPresence::absent;
    }
    Result<std::string, int> canonicalPath(const std::string& path) const override {
        calls.push_back("canonical " + path);
        if (auto c = canonicalForms.find(path); c != canonicalForms.end()) {
            return c->second;
        }
        if (auto e = canonicalErrors.find(path); e != canonicalErrors.end()) {
            return fail(e->second);
        }
        if (auto e = probeErrors.find(path); e != probeErrors.end()) {
            return fail(e->second);
        }
        return fail(ENOENT);
    }
};

TEST(PathPolicyResolution, FileSystemErrorsBecomeUnresolvable) {
    auto fs = std::make_shared<FakeFileSystem>();
    fs->canonicalForms["/etc"] = "/private/etc";
    fs->canonicalForms["/data"] = "/data";
    fs->canonicalForms["/Users"] = "/Users";
    fs->probeErrors["/data/io/sub"] = EIO;
    fs->canonicalErrors["/data/stale"] = ESTALE;
    const PathPolicy policy("/Users/alice", {}, fs);

    struct Row {
        std::string path;
        PolicyDecision expected;
    };
    const Row rows[] = {
        {"/data/io/sub/x", PolicyDecision::denied(PolicyReason::unresolvable(EIO))},
        {"/data/stale/x", PolicyDecision::denied(PolicyReason::unresolvable(ESTALE))},
        {"/data/a/b/c", PolicyDecision::allowed("/data/a/b/c")},
        {"/Users/alice/Documents/report.txt",
         PolicyDecision::allowed("/Users/alice/Documents/report.txt")},
    };
    for (const auto& row : rows) {
        EXPECT_DECISION(policy, row.path, row.expected);
    }
}

TEST(PathPolicyResolution, SystemDirectoriesBehindLinksAreEscapes) {
    // A layout where /etc is a link to /private/etc; the Linux tables deny /etc by its own
    // text, so the link is placed in a scratch location.
    auto fs = std::make_shared<FakeFileSystem>();
    fs->canonicalForms["/scratch/etc"] = "/private/etc";
    fs->canonicalForms["/scratch/tmp"] = "/private/tmp";
    const PathPolicy policy("/Users/alice", {}, fs);
    EXPECT_DECISION(policy, "/scratch/etc/hosts",
                    escape("/private/etc/hosts", PolicyReason::deniedSubtree("/private/etc")));
    EXPECT_DECISION(policy, "/scratch/tmp/x", PolicyDecision::allowed("/private/tmp/x"));

    // The nearest existing ancestor is canonicalized once; absent ancestors are probed.
    fs->calls.clear();
    EXPECT_DECISION(policy, "/scratch/etc/a/b/c",
                    escape("/private/etc/a/b/c", PolicyReason::deniedSubtree("/private/etc")));
    const std::vector<std::string> expectedCalls = {
        "canonical /scratch/etc/a/b", "probe /scratch/etc/a/b", "canonical /scratch/etc/a",
        "probe /scratch/etc/a",       "canonical /scratch/etc",
    };
    EXPECT_EQ(fs->calls, expectedCalls);
}

}  // namespace
}  // namespace kb
