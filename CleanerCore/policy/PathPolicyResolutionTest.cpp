// Resolution of parent directories on real trees and symbolic links, plus the error
// numbers only a test double can produce on demand.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <tuple>

#include "CleanerCore/policy/PathPolicy.h"
#include "testing/TempDir.h"
#include "testing/TestAccount.h"

namespace kb {
namespace {

using testing::TempDir;

std::string describe(const PolicyDecision& decision) {
    const std::string* path = decision.resolvedPath();
    return path ? "allowed " + *path : "denied: " + decision.reason()->description();
}

void expectDecision(const PathPolicy& policy, const std::string& path,
                    const PolicyDecision& expected) {
    const PolicyDecision actual = policy.evaluate(path);
    EXPECT_EQ(actual, expected) << "path " << path << "\n  actual   " << describe(actual)
                                << "\n  expected " << describe(expected);
}

void makeLink(const std::string& target, const std::string& link) {
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
}

void makeDir(const std::string& path, mode_t mode = 0755) {
    ASSERT_EQ(::mkdir(path.c_str(), mode), 0) << path;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

PolicyDecision allowed(std::string path) {
    return PolicyDecision::allowed(std::move(path));
}
PolicyDecision denied(PolicyReason reason) {
    return PolicyDecision::denied(std::move(reason));
}
PolicyDecision escape(std::string resolved, const PolicyReason& underlying) {
    return denied(PolicyReason::symlinkEscape(std::move(resolved), underlying.description()));
}

// lstat and realpath(3) of every ancestor, as the resolution is defined: the reference the
// descriptor walk of RealPolicyFileSystem must agree with.
class ReferenceFileSystem final : public PolicyFileSystem {
  public:
    Result<EntryPresence, int> entryExists(const std::string& path) const override {
        return RealPolicyFileSystem().entryExists(path);
    }
    Result<std::string, int> canonicalPath(const std::string& path) const override {
        char buffer[PATH_MAX];
        if (::realpath(path.c_str(), buffer) == nullptr) {
            return fail(errno);
        }
        return std::string(buffer);
    }
};

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
    makeLink("real/../alias", dir / "relative");
    makeLink("/", dir / "top");
    makeLink("file", dir / "filelink");
    makeLink("/srv", dir / "srv");
    makeDir(dir / ".dev.kestrelbay.staging-q");
    makeLink(dir / ".dev.kestrelbay.staging-q", dir / "staged");
    std::string chain = dir / "real";
    for (int i = 0; i < 64; ++i) {
        chain += "/d";
        makeDir(chain);
    }
    makeLink(chain, dir / "deep");
    makeLink("../../d", chain + "/back");  // the parent of chain, through its grandparent

    makeDir(dir / "cafe\u0301");  // decomposed, behind a precomposed link
    makeLink(dir / "cafe\u0301", dir / "caf\u00e9");

    std::vector<std::pair<std::string, PolicyDecision>> rows = {
        {dir / "etc/passwd", escape("/etc/passwd", PolicyReason::deniedSubtree("/etc"))},
        {dir / "etc/../../x", denied(PolicyReason::containsParentReference())},
        {dir / "alias/x", allowed(dir / "real/x")},
        {dir / "alias/missing/deeper/x", allowed(dir / "real/missing/deeper/x")},
        {dir / "alias//./x/", allowed(dir / "real/x")},
        {dir / "dangling/x", denied(PolicyReason::unresolvable(ENOENT))},
        {dir / "loop/x", denied(PolicyReason::unresolvable(ELOOP))},
        {dir / "relative/x", allowed(dir / "real/x")},
        {dir / "top/tmp/x", allowed("/tmp/x")},
        {dir / "top/etc/x", escape("/etc/x", PolicyReason::deniedSubtree("/etc"))},
        {dir / "filelink/x", allowed(dir / "file/x")},
        {dir / "srv/x", escape("/srv/x", PolicyReason::deniedSubtree("/srv"))},
        {dir / "staged/x", escape(dir / ".dev.kestrelbay.staging-q/x",
                                  PolicyReason::deniedSubtree(dir / ".dev.kestrelbay.staging-q"))},
        {dir / "deep/back/missing/x", allowed(chain.substr(0, chain.size() - 2) + "/missing/x")},
        {chain + "/back/d/x", allowed(chain + "/x")},
    };
    for (const auto& path : {dir / "passwd", dir / "etc", dir / "missing/x/y", dir / "file/x",
                             dir / "dangling", dir / "caf\u00e9/x"}) {
        rows.push_back({path, allowed(path)});
    }
    const PathPolicy reference("/home/nobody-kbpol", {}, std::make_shared<ReferenceFileSystem>());
    for (const auto& [path, expected] : rows) {
        expectDecision(policy, path, expected);
        expectDecision(reference, path, expected);
    }
    // The same verdicts for the rows as the paths of one request, twice over (the second
    // time every parent's resolution is reused).
    ParentResolutions request;
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& [path, expected] : rows) {
            EXPECT_EQ(policy.evaluate(path, request), expected) << path;
        }
    }
}

TEST(PathPolicyResolution, OneRequestResolvesASharedParentAgainOnceItIsReplaced) {
    TempDir dir;
    const PathPolicy policy("/home/nobody-kbpol");
    makeDir(dir / "p");
    ParentResolutions request;
    EXPECT_EQ(policy.evaluate(dir / "p/passwd", request), allowed(dir / "p/passwd"));
    // The checked parent is lent to one item at a time.
    UniqueFd lent = request.lendCheckedDirectory(dir / "p");
    EXPECT_TRUE(lent);
    EXPECT_FALSE(request.lendCheckedDirectory(dir / "p"));
    request.giveBack(std::move(lent));
    ASSERT_EQ(::rename((dir / "p").c_str(), (dir / "p.real").c_str()), 0);
    makeLink("/etc", dir / "p");
    EXPECT_EQ(policy.evaluate(dir / "p/passwd", request),
              escape("/etc/passwd", PolicyReason::deniedSubtree("/etc")));
    EXPECT_FALSE(request.lendCheckedDirectory(dir / "p"));
    EXPECT_FALSE(request.lendCheckedDirectory("/etc"));
    ASSERT_EQ(::unlink((dir / "p").c_str()), 0);
    makeLink("/srv", dir / "p.real/srv");
    ASSERT_EQ(::rename((dir / "p.real").c_str(), (dir / "p").c_str()), 0);
    EXPECT_EQ(policy.evaluate(dir / "p/srv/x", request),
              escape("/srv/x", PolicyReason::deniedSubtree("/srv")));
    EXPECT_EQ(policy.evaluate(dir / "p/passwd", request), allowed(dir / "p/passwd"));
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
    expectDecision(policy, dir / "homelink/Documents",
                   escape(home + "/Documents", PolicyReason::deniedRoot(home + "/Documents")));
    expectDecision(policy, dir / "keys/id_rsa",
                   escape(home + "/.ssh/id_rsa", PolicyReason::protectedLocation(home + "/.ssh")));
    expectDecision(policy, dir / "homelink/.cache/x", allowed(home + "/.cache/x"));
    expectDecision(policy, dir / "keys", allowed(dir / "keys"));

    EXPECT_EQ(PathPolicy(dir / "gone//home/").homeDirectory(), dir / "gone/home");
}

TEST(PathPolicyResolution, ForUserTakesTheAccountsHomeAndAnUnsearchableParentIsUnresolvable) {
    TempDir dir;
    const std::string locked = dir / "locked";
    makeDir(locked, 0700);
    makeDir(locked + "/sub");
    testing::TestAccount account("kbpol");
    ASSERT_TRUE(account.valid());
    const auto policy = PathPolicy::forUser(*lookUpAccount(account.uid()), {"//x/./y/"});
    ASSERT_TRUE(policy.has_value());
    EXPECT_EQ(policy->homeDirectory(), account.home());
    EXPECT_EQ(policy->userProtectedPaths(), std::vector<std::string>{"/x/y"});
    EXPECT_EQ(policy->evaluate(account.home() + "/.cache/a"),
              allowed(account.home() + "/.cache/a"));
    EXPECT_EQ(policy->evaluate(account.home()), denied(PolicyReason::deniedRoot(account.home())));
    EXPECT_FALSE(PathPolicy::forUser(AccountEntry{"nohome", 4000, 4000, ""}).has_value());

    // The locked directory itself can still be canonicalized: its parent is searchable.
    const int status = account.runAs([&] {
        if (policy->evaluate(locked + "/sub/x") != denied(PolicyReason::unresolvable(EACCES))) {
            return 1;
        }
        return policy->evaluate(locked + "/x") == allowed(locked + "/x") ? 0 : 2;
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

    Result<EntryPresence, int> entryExists(const std::string& path) const override {
        if (auto e = probeErrors.find(path); e != probeErrors.end()) {
            return fail(e->second);
        }
        return canonicalForms.count(path) != 0 || canonicalErrors.count(path) != 0
                   ? EntryPresence::exists
                   : EntryPresence::absent;
    }
    Result<std::string, int> canonicalPath(const std::string& path) const override {
        if (auto c = canonicalForms.find(path); c != canonicalForms.end()) {
            return c->second;
        }
        if (auto e = canonicalErrors.find(path); e != canonicalErrors.end()) {
            return fail(e->second);
        }
        return fail(ENOENT);
    }
};

// Error numbers the real file system cannot produce on demand, system directories behind
// links (/etc as a link to /private/etc, placed in a scratch location since the Linux tables
// deny /etc by its own text) and a home behind a link, reachable by both names.
TEST(PathPolicyResolution, FileSystemErrorsAndLinkedLayoutsOfATestDouble) {
    auto fs = std::make_shared<FakeFileSystem>();
    fs->canonicalForms = {{"/mnt/data", "/mnt/data"},
                          {"/Users", "/Users"},
                          {"/mnt/scratch/etc", "/private/etc"},
                          {"/mnt/scratch/tmp", "/private/tmp"},
                          {"/srv/alice", "/data/alice"}};
    fs->probeErrors["/mnt/data/io/sub"] = EIO;
    fs->canonicalErrors["/mnt/data/stale"] = ESTALE;
    const PathPolicy policy("/Users/alice", {}, fs);
    const PathPolicy linkedHome("/srv/alice", {}, fs);
    EXPECT_EQ(linkedHome.homeDirectory(), "/data/alice");

    const std::tuple<const PathPolicy&, std::string, PolicyDecision> rows[] = {
        {policy, "/mnt/data/io/sub/x", denied(PolicyReason::unresolvable(EIO))},
        {policy, "/mnt/data/stale/x", denied(PolicyReason::unresolvable(ESTALE))},
        {policy, "/mnt/data/a/b/c", allowed("/mnt/data/a/b/c")},
        {policy, "/Users/alice/Documents/report.txt", allowed("/Users/alice/Documents/report.txt")},
        {policy, "/mnt/scratch/etc/hosts",
         escape("/private/etc/hosts", PolicyReason::deniedSubtree("/private/etc"))},
        {policy, "/mnt/scratch/tmp/x", allowed("/private/tmp/x")},
        {policy, "/mnt/scratch/etc/a/b/c",
         escape("/private/etc/a/b/c", PolicyReason::deniedSubtree("/private/etc"))},
        {linkedHome, "/srv/alice/x", allowed("/data/alice/x")},
        {linkedHome, "/data/alice/x", allowed("/data/alice/x")},
        {linkedHome, "/srv/bob/x", denied(PolicyReason::deniedSubtree("/srv"))},
    };
    for (const auto& [on, path, expected] : rows) {
        expectDecision(on, path, expected);
    }
}

}  // namespace
}  // namespace kb
