#include "helper/Admission.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <tuple>

#include "helper/testing/FileOpsScenario.h"
#include "testing/TempDir.h"
#include "testing/TestAccount.h"

namespace kb {
namespace {

using namespace kb::testing;

TEST(Admission, RefusalTextsDependOnlyOnTheNumberOfPathsAndAnAdmittedRequestAnswersEveryPath) {
    FileOpsScenario world;
    putFile(world.at("dir/sub/file"), "x");
    writeFile(world.at("file"), "x");
    const auto before = listTree(world.home());
    const std::vector<std::string> one{world.at("x")};
    const std::tuple<std::vector<std::string>, std::uint32_t, std::string> cases[] = {
        {{}, world.uid(), "the request carried no paths"},
        {std::vector<std::string>(10001, world.at("x")), world.uid(),
         "a single request may not carry 10001 paths"},
        {one, 0, "uid 0 is not a user account this helper will act for"},
        {one, 1,
         "uid 1 is not a user account this helper will act for"},  // daemon, a system account
        {one, 999, "uid 999 is not a user account this helper will act for"},
        {one, 4242999, "uid 4242999 is not a user account this helper will act for"},  // unknown
    };
    for (const auto& [paths, uid, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_FALSE(admitRequest(paths, uid).has_value());
        EXPECT_EQ(refusalMessage(paths, uid), expected);
    }
    // Every kind of path request, refused whole.
    const std::vector<std::string> paths{world.at("dir"), world.at("file")};
    using R = HelperRequest;
    for (const R& request : {R{R::TrashItems{paths, 999}}, R{R::RemoveItems{paths, 999}},
                             R{R::RestoreFromTrash{world.at("file"), world.at("dir/x"), 999}}}) {
        EXPECT_EQ(world.perform(request),
                  HelperResponse::error("uid 999 is not a user account this helper will act for"));
    }
    EXPECT_EQ(listTree(world.home()), before);
    EXPECT_FALSE(pathExists(world.settings.stagingDirectory));

    const std::string relative = "not/absolute";
    const auto results = itemsOf(
        world.remove({relative, world.home(), "/etc/passwd", world.at("file"), world.at("file")}));
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0], (ItemResult{relative, ItemOutcome::policyDenied("path is not absolute"),
                                      std::nullopt}));
    EXPECT_EQ(results[1].outcome,
              ItemOutcome::policyDenied("'" + world.home() + "' is a protected root"));
    EXPECT_TRUE(std::holds_alternative<ItemOutcome::PolicyDenied>(results[2].outcome.kind));
    EXPECT_EQ(results[3], (ItemResult{world.at("file"), ItemOutcome::ok(), std::nullopt}));
    EXPECT_EQ(results[4], (ItemResult{world.at("file"), ItemOutcome::notFound(), std::nullopt}));
    EXPECT_EQ(world.log.records().at(0), (LogRecord{"service", LogLevel::standard,
                                                    "refused not/absolute: path is not absolute"}));
    EXPECT_TRUE(pathExists("/etc/passwd"));
}

TEST(Admission, AnAccountIsAdmittedWithItsGroupAndAHomeResolvedAnewForEveryRequest) {
    TempDir place;
    TestAccount account("kbadm", place.path());
    // The database names a link; the policy follows it to wherever it leads now.
    const std::string first = place / "first";
    const std::string second = place / "second";
    ASSERT_EQ(::rename(account.home().c_str(), first.c_str()), 0);
    makeDirectories(second);
    const std::vector<std::string> most(10000, account.home() + "/x");
    for (const std::string& target : {first, second, first}) {
        ::unlink(account.home().c_str());
        ASSERT_EQ(::symlink(target.c_str(), account.home().c_str()), 0);
        const auto admitted = admitRequest(most, account.uid());
        ASSERT_TRUE(admitted.has_value());
        EXPECT_EQ(admitted->ops,
                  (RootFileOps{account.uid(), account.gid(), PathPolicy::normalize(account.home()),
                               ForeignEntries::keepTheirOwner}));
        EXPECT_EQ(admitted->policy.userProtectedPaths().size(), 0u);
        EXPECT_EQ(admitted->policy.homeDirectory(), target);
        EXPECT_EQ(admitted->policy.evaluate(target + "/.ssh/id"),
                  PathPolicy(account.home()).evaluate(target + "/.ssh/id"));
    }
    ::unlink(account.home().c_str());
    ASSERT_EQ(::rename(first.c_str(), account.home().c_str()), 0);
}

TEST(Admission, APeerOtherThanRootActsOnlyForItsOwnUid) {
    using R = HelperRequest;
    const std::vector<std::string> one = {"/home/a/x"};
    const std::string other = "uid 1001 is not a user account this helper will act for";
    const std::string root = "uid 0 is not a user account this helper will act for";
    const std::tuple<std::uint32_t, HelperRequest, std::optional<std::string>> cases[] = {
        {1000, {R::TrashItems{one, 1001}}, other},
        {1000, {R::RemoveItems{{"/a", "/b"}, 0}}, root},
        {1000, {R::ClearProtection{"/home/a/x", 1001}}, other},
        {1000, {R::RestoreFromTrash{"/t", "/o", 1001}}, other},
        {1000, {R::RemoveItems{std::vector<std::string>(10000, "/x"), 1001}}, other},
        {1000, {R::TrashItems{one, 1000}}, std::nullopt},
        {0, {R::RemoveItems{one, 1001}}, std::nullopt},
        // No paths or too many: admitRequest refuses with its own sentence.
        {1000, {R::TrashItems{{}, 1001}}, std::nullopt},
        {1000, {R::TrashItems{std::vector<std::string>(10001, "/x"), 1001}}, std::nullopt},
        {1000, {R::TerminateProcess{1, 2, 15}}, std::nullopt},
        {1000, {R::GetVersion{}}, std::nullopt},
    };
    for (const auto& [peer, request, refusal] : cases) {
        SCOPED_TRACE(request.kind.index());
        EXPECT_EQ(peerUidRefusal(request, peer), refusal);
    }
}

}  // namespace
}  // namespace kb
