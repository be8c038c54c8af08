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

std::string encodeDomain(const auto& value) {
    auto text = json::encode(value, json::JsonStyle::domain);
    EXPECT_TRUE(text.ok());
    return text.ok() ? *text : std::string();
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

InstalledApp fullApp() {
    const LaunchItem agent{
        .id = "agent-1",
        .kind = LaunchItem::Kind::launchAgentUser,
        .label = "com.example.notes.sync",
        .plistPath = url("/Users/alice/Library/LaunchAgents/com.example.notes.sync.plist"),
        .programPath = url("/Applications/Notes Plus.app/Contents/MacOS/sync"),
        .isLoaded = false,
        .ownerBundleID = "com.example.notes",
        .ownerReason = LaunchOwnerReason::programInsideBundle,
        .schedule = LaunchSchedule{.runsAtLoad = true, .intervalSeconds = 3600},
    };
    InstalledApp app = minimalApp();
    app.bundleID = "com.example.notes";
    app.version = "2.4.1";
    app.buildNumber = "2041";
    app.teamID = "ABCDE12345";
    app.bundleSize = 184'320'000;
    app.lastUsed = at(1'796'000'000);
    app.lastUsedSource = LastUsedSource::savedState;
    app.installedAt = at(1'700'000'000);
    app.modifiedAt = at(1'750'000'000);
    app.isAppleSystem = false;
    app.isProtected = true;
    app.entitlementGroups = {"group.com.example.notes"};
    app.embeddedBundleIDs = {"com.example.notes.helper", "com.example.notes.share"};
    app.launchItems = {agent, LaunchItem{.id = "daemon-2", .kind = LaunchItem::Kind::launchDaemon}};
    app.runtime = AppRuntimeStatus{
        .processes = {{.pid = 412, .startTime = 1'796'000'100'123'456, .name = "Notes Plus"}},
        .cpuPercent = 2.5,
        .residentBytes = 96'000'000,
        .sampledAt = at(1'796'000'200),
    };
    return app;
}

TEST(InstalledApp, IsRunningOnlyWithASampledProcess) {
    InstalledApp app = minimalApp();
    EXPECT_FALSE(app.isRunning());
    app.runtime = AppRuntimeStatus{.sampledAt = at(0)};
    EXPECT_FALSE(app.runtime->isRunning());
    EXPECT_FALSE(app.isRunning());
    app.runtime->processes.push_back({.pid = 7, .startTime = 1, .name = "x"});
    EXPECT_TRUE(app.runtime->isRunning());
    EXPECT_TRUE(app.isRunning());
}

TEST(InstalledApp, OnlyARecordedLaunchIsNotAnEstimate) {
    for (const auto source : allLastUsedSources) {
        SCOPED_TRACE(rawValue(source));
        EXPECT_EQ(isEstimate(source), source != LastUsedSource::launchRecord);
    }
    EXPECT_TRUE(isEstimate(LastUsedSource::preferences));
    EXPECT_FALSE(isEstimate(LastUsedSource::launchRecord));
}

TEST(InstalledApp, RawValuesAreTheCaseNamesAndCaseSensitive) {
    const std::vector<std::string_view> sources = {
        "appStore", "homebrewCask", "setapp", "sparkle", "directDownload", "system", "unknown"};
    ASSERT_EQ(allAppSources.size(), sources.size());
    for (std::size_t i = 0; i < sources.size(); ++i) {
        EXPECT_EQ(rawValue(allAppSources[i]), sources[i]);
        EXPECT_EQ(appSourceFromRawValue(sources[i]), allAppSources[i]);
    }
    EXPECT_EQ(rawValue(allLastUsedSources.back()), "savedState");
    EXPECT_EQ(cpuArchitectureFromRawValue("x86_64"), CPUArchitecture::x86_64);
    EXPECT_EQ(cpuArchitectureFromRawValue("X86_64"), std::nullopt);
    EXPECT_EQ(lastUsedSourceFromRawValue("LaunchRecord"), std::nullopt);
    EXPECT_EQ(launchItemKindFromRawValue("smAppServiceLoginItem"),
              LaunchItem::Kind::smAppServiceLoginItem);
    EXPECT_EQ(launchOwnerReasonFromRawValue("labelEqualsBundleID"),
              LaunchOwnerReason::labelEqualsBundleID);
    EXPECT_EQ(launchOwnerReasonFromRawValue("label"), std::nullopt);
}

TEST(InstalledApp, RoundTripsWithAndWithoutOptionalFields) {
    testing::expectRoundTripsAndHashes(std::vector{minimalApp(), fullApp()});
    testing::expectRoundTripsAndHashes(std::vector{fullApp().launchItems.front()});
    testing::expectRoundTripsAndHashes(std::vector{*fullApp().runtime});
}

TEST(InstalledApp, AbsentOptionalsHaveNoKeys) {
    EXPECT_EQ(encodeDomain(minimalApp()),
              R"({"architecture":"arm64","embeddedBundleIDs":[],"entitlementGroups":[],)"
              R"("id":"app-1","isAppleSystem":false,"isProtected":false,"launchItems":[],)"
              R"("name":"Notes Plus","path":"file:///Applications/Notes%20Plus.app/",)"
              R"("source":"directDownload"})");
    const auto full = encodeDomain(fullApp());
    EXPECT_NE(full.find(R"("lastUsed":"2026-11-30T00:53:20Z")"), std::string::npos) << full;
    EXPECT_NE(full.find(R"("isLoaded":false)"), std::string::npos) << full;
    EXPECT_EQ(encodeDomain(LaunchItem{.id = "x", .kind = LaunchItem::Kind::privilegedHelper}),
              R"({"id":"x","kind":"privilegedHelper"})");
}

TEST(InstalledApp, DecodingRefusesBadFieldsAnywhere) {
    const std::string app =
        R"({"architecture":"arm64","embeddedBundleIDs":[],"entitlementGroups":[],"id":"a",)"
        R"("isAppleSystem":false,"isProtected":false,"name":"A","path":"file:///A.app/",)"
        R"("source":"appStore","launchItems":[)";
    const auto withItems = [&](const std::string& items, const std::string& more = "") {
        return app + items + "]" + more + "}";
    };
    EXPECT_TRUE(json::decode<InstalledApp>(
                    withItems(R"({"id":"i","kind":"launchDaemon"})", R"(,"unknownKey":[1,2])"))
                    .ok());
    const auto decodedArch = json::decode<InstalledApp>(
        std::string(withItems("")).replace(app.find("arm64"), 5, "x86_64"));
    ASSERT_TRUE(decodedArch.ok());
    EXPECT_EQ(decodedArch->architecture, CPUArchitecture::x86_64);

    const std::vector<std::string> bad = {
        std::string(withItems("")).replace(app.find("arm64"), 5, "X86_64"),
        withItems(R"({"id":"i","kind":"launchdaemon"})"),
        withItems(R"({"id":"i"})"),
        withItems(R"({"id":"i","kind":"launchDaemon","isLoaded":"no"})"),
        withItems(R"({"id":"i","kind":"launchDaemon","ownerReason":"receipts"})"),
        withItems(R"({"id":"i","kind":"launchDaemon","schedule":{}})"),
        withItems(R"({"id":"i","kind":"launchDaemon","plistPath":"/not/a/url"})"),
        withItems("", R"(,"lastUsedSource":"spotlight")"),
        withItems("", R"(,"lastUsed":"yesterday")"),
        withItems("", R"(,"bundleSize":-1)"),
        withItems("", R"(,"runtime":{"processes":[],"cpuPercent":0,"residentBytes":0})"),
        withItems("", R"(,"runtime":{"processes":[{"pid":1,"name":"x"}],"cpuPercent":0,)"
                      R"("residentBytes":0,"sampledAt":"2026-12-06T08:31:08Z"})"),
        R"({"architecture":"arm64","embeddedBundleIDs":[],"entitlementGroups":[],"id":"a",)"
        R"("isAppleSystem":false,"isProtected":false,"name":"A","path":"file:///A.app/",)"
        R"("source":"appStore"})",
    };
    for (const auto& text : bad) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(json::decode<InstalledApp>(text).ok());
    }
}

}  // namespace
}  // namespace kb
