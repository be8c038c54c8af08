#include "CleanerCore/model/DeletionPlan.h"

#include <gtest/gtest.h>

#include <tuple>

#include "testing/RecordChecks.h"

namespace kb {
namespace {

using Step = DeletionPlan::Step;
using Origin = DeletionPlan::Origin;
using testing::domainJson;

FileURL url(const char* path) {
    return *FileURL::fromPath(path);
}

const Uuid planID = *Uuid::parse("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
const Date created = Date(std::chrono::seconds(1796545868));

DeletionPlan planOf(std::vector<Step> steps) {
    return DeletionPlan{planID, created, Origin::forceDelete(), std::move(steps), 0, false};
}

TEST(DeletionPlan, APlanAndEveryStepHaveTheirExactJson) {
    const std::pair<Step, const char*> cases[] = {
        {{Step::QuitApp{"com.example.app"}}, R"({"quitApp":{"bundleID":"com.example.app"}})"},
        {{Step::Bootout{"com.example.agent", "gui/501"}},
         R"({"bootout":{"domain":"gui/501","label":"com.example.agent"}})"},
        {{Step::UnregisterLaunchServices{
             *FileURL::fromPath("/Applications/My App.app", FileURL::Kind::directory)}},
         R"({"unregisterLaunchServices":{"_0":"file:///Applications/My%20App.app/"}})"},
        {{Step::BrewZap{"example"}}, R"({"brewZap":{"cask":"example"}})"},
        {{Step::ForgetReceipt{"com.example.pkg"}},
         R"({"forgetReceipt":{"packageID":"com.example.pkg"}})"},
        {{Step::Remove{url("/Users/a/x"), DeletionMode::trash, true}},
         R"({"remove":{"_0":"file:///Users/a/x","mode":"trash","requiresRoot":true}})"},
        {{Step::RunCommand{"brew.cleanup", {"--prune", "all"}, false}},
         R"({"runCommand":{"arguments":["--prune","all"],"id":"brew.cleanup","requiresRoot":false}})"},
        {{Step::ForceUnlock{url("/Volumes/X"), ForceRemedy::unmount}},
         R"({"forceUnlock":{"_0":"file:///Volumes/X","_1":"unmount"}})"},
    };
    for (const auto& [step, json] : cases) {
        EXPECT_EQ(domainJson(step), json);
    }
    EXPECT_EQ(domainJson(planOf({})),
              R"({"createdAt":"2026-12-06T08:31:08Z","estimatedBytes":0,)"
              R"("id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","origin":{"forceDelete":{}},)"
              R"("steps":[],"usesTrash":false})");
}

TEST(DeletionPlan, NeedsHelperOnlyForRootSteps) {
    const auto unlock = [](ForceRemedy remedy) {
        return Step{Step::ForceUnlock{url("/x"), remedy}};
    };
    const auto remove = [](bool asRoot) {
        return Step{Step::Remove{url("/x"), DeletionMode::unlink, asRoot}};
    };
    std::vector<Step> tenRemovesAndAReceipt(10, remove(false));
    tenRemovesAndAReceipt.push_back({Step::ForgetReceipt{"com.example.pkg"}});
    const std::tuple<const char*, std::vector<Step>, bool> cases[] = {
        {"empty", {}, false},
        {"system bootout", {{Step::Bootout{"l", "system"}}}, true},
        {"user bootout", {{Step::Bootout{"l", "gui/501"}}}, false},
        {"System bootout", {{Step::Bootout{"l", "System"}}}, false},
        {"ten removes and a receipt", tenRemovesAndAReceipt, false},
        {"root remove", {remove(true)}, true},
        {"root command", {{Step::RunCommand{"c", {}, true}}}, true},
        {"user command", {{Step::RunCommand{"c", {}, false}}}, false},
        {"strip ACL", {unlock(ForceRemedy::stripACL)}, false},
        {"user immutable", {unlock(ForceRemedy::clearUserImmutable)}, false},
        {"terminate", {unlock(ForceRemedy::terminateHolders)}, false},
        {"system immutable", {unlock(ForceRemedy::clearSystemImmutable)}, true},
        {"unmount", {unlock(ForceRemedy::unmount)}, true},
        {"user steps",
         {{Step::QuitApp{"a"}},
          {Step::UnregisterLaunchServices{url("/A.app")}},
          {Step::BrewZap{"a"}}},
         false},
        {"root step last", {{Step::QuitApp{"a"}}, remove(true)}, true},
    };
    for (const auto& [name, steps, needsHelper] : cases) {
        EXPECT_EQ(planOf(steps).needsHelper(), needsHelper) << name;
    }
}

}  // namespace
}  // namespace kb
