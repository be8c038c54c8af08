#include "CleanerCore/model/InstalledApp.h"

#include <gtest/gtest.h>

#include <chrono>

#include "testing/RecordChecks.h"

namespace kb {
namespace {

const InstalledApp minimalApp{
    .id = "app-1",
    .name = "Notes Plus",
    .path = *FileURL::fromPath("/Applications/Notes Plus.app", FileURL::Kind::directory),
    .source = AppSource::directDownload,
    .architecture = CPUArchitecture::arm64,
};

TEST(InstalledApp, AbsentOptionalsHaveNoKeysAndOnlyASampledProcessIsRunning) {
    EXPECT_EQ(testing::domainJson(minimalApp),
              R"({"architecture":"arm64","embeddedBundleIDs":[],"entitlementGroups":[],)"
              R"("id":"app-1","isAppleSystem":false,"isProtected":false,"launchItems":[],)"
              R"("name":"Notes Plus","path":"file:///Applications/Notes%20Plus.app/",)"
              R"("source":"directDownload"})");
    EXPECT_EQ(
        testing::domainJson(LaunchItem{.id = "x", .kind = LaunchItem::Kind::privilegedHelper}),
        R"({"id":"x","kind":"privilegedHelper"})");
    InstalledApp app = minimalApp;
    EXPECT_FALSE(app.isRunning());
    app.runtime = AppRuntimeStatus{.sampledAt = Date(std::chrono::seconds(0))};
    EXPECT_FALSE(app.isRunning());
    app.runtime->processes.push_back({.pid = 7, .startTime = 1, .name = "x"});
    EXPECT_TRUE(app.isRunning());
}

}  // namespace
}  // namespace kb
