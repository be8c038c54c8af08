#include "CleanerCore/model/InstalledApp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "testing/RecordChecks.h"

namespace kb {
namespace {

FileURL url(std::string_view path, FileURL::Kind kind = FileURL::Kind::file) {
    return *FileURL::fromPath(path, kind);
}

Date at(std::int64_t secondsSinceEpoch) {
    return Date(std::chrono::seconds(secondsSinceEpoch));
}

InstalledApp minimalApp() {
    return InstalledApp{
        .id = "app-1",
        .name = "Notes Plus",
        .path = url("/Applications/Notes Plus.app", FileURL::Kind::directory),
        .source = AppSource::directDownload,
        .architecture = CPUArchitecture::arm64,
    };
}

TEST(InstalledApp, IsRunningOnlyWithASampledProcessAndOnlyARecordedLaunchIsNoEstimate) {
    InstalledApp app = minimalApp();
    EXPECT_FALSE(app.isRunning());
    app.runtime = AppRuntimeStatus{.sampledAt = at(0)};
    EXPECT_FALSE(app.runtime->isRunning());
    EXPECT_FALSE(app.isRunning());
    app.runtime->processes.push_back({.pid = 7, .startTime = 1, .name = "x"});
    EXPECT_TRUE(app.runtime->isRunning());
    EXPECT_TRUE(app.isRunning());
    for (const auto source : allLastUsedSources) {
        SCOPED_TRACE(rawValue(source));
        EXPECT_EQ(isEstimate(source), source != LastUsedSource::launchRecord);
    }
}

TEST(InstalledApp, AbsentOptionalsHaveNoKeys) {
    EXPECT_EQ(testing::domainJson(minimalApp()),
              R"({"architecture":"arm64","embeddedBundleIDs":[],"entitlementGroups":[],)"
              R"("id":"app-1","isAppleSystem":false,"isProtected":false,"launchItems":[],)"
              R"("name":"Notes Plus","path":"file:///Applications/Notes%20Plus.app/",)"
              R"("source":"directDownload"})");
    EXPECT_EQ(
        testing::domainJson(LaunchItem{.id = "x", .kind = LaunchItem::Kind::privilegedHelper}),
        R"({"id":"x","kind":"privilegedHelper"})");
}

}  // namespace
}  // namespace kb
