// Every model record: pairwise unequal samples come back from their JSON form unchanged and
// hash as they compare.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "CleanerCore/model/AppRuntimeStatus.h"
#include "CleanerCore/model/CleanRule.h"
#include "CleanerCore/model/DeletionPlan.h"
#include "CleanerCore/model/InstalledApp.h"
#include "CleanerCore/model/LaunchItem.h"
#include "CleanerCore/model/LaunchSchedule.h"
#include "CleanerCore/model/LeftoverCandidate.h"
#include "json/JsonCodec.h"

namespace kb {
namespace {

using S = LaunchSchedule;
using Step = DeletionPlan::Step;
using Origin = DeletionPlan::Origin;

FileURL url(const char* path) {
    return *FileURL::fromPath(path);
}

Date at(std::int64_t seconds) {
    return Date(std::chrono::seconds(seconds));
}

const ProcessRef process{.pid = 412, .startTime = 1'796'000'100'123'456, .name = "Notes"};
const AppRuntimeStatus runtime{
    .processes = {process}, .cpuPercent = 2.5, .residentBytes = 96, .sampledAt = at(5)};
const S schedule{.runsAtLoad = true,
                 .keepAlive = S::KeepAlive::conditional,
                 .intervalSeconds = 0,
                 .calendarTriggers = {S::CalendarTrigger{}, {.minute = 5, .month = 12}},
                 .watchedPaths = {"/etc/x"},
                 .sessionTypes = {S::SessionType::background},
                 .processType = S::ProcessType::adaptive,
                 .throttleIntervalSeconds = -1};
const LaunchItem agent{.id = "agent",
                       .kind = LaunchItem::Kind::launchAgentUser,
                       .label = "com.example.sync",
                       .plistPath = url("/Users/a/Library/LaunchAgents/x.plist"),
                       .isLoaded = false,
                       .ownerReason = LaunchOwnerReason::programInsideBundle,
                       .schedule = schedule};
const InstalledApp app{.id = "app",
                       .name = "Notes Plus",
                       .path = url("/Applications/Notes Plus.app"),
                       .source = AppSource::directDownload,
                       .architecture = CPUArchitecture::arm64};
const ScannedItem item{url("/Users/a/Library/Caches/x y"), 4096, at(1796545868), true};
const CleanRule rule("xcode.derivedData", "developerJunk", RuleProvider::globs({"~/D/*"}),
                     SafetyLevel::safe, RegenerationCost::local, false, false,
                     BusyCheck::processRunning({"X"}), DeletionMode::unlink, std::nullopt, {}, 3);
const LeftoverCandidate candidate{.path = url("/Users/a/Library/Caches/n"),
                                  .kind = LeftoverKind::cache,
                                  .reasons = {MatchReason::bundleIDExact},
                                  .confidence = Confidence::exact};
const std::vector<Step> steps{
    {Step::QuitApp{"a"}},
    {Step::Bootout{"a", "system"}},
    {Step::Bootout{"system", "a"}},
    {Step::UnregisterLaunchServices{url("/x")}},
    {Step::BrewZap{"cask"}},
    {Step::ForgetReceipt{"pkg"}},
    {Step::Remove{url("/x"), DeletionMode::trash, false}},
    {Step::Remove{url("/x"), DeletionMode::trash, true}},
    {Step::RunCommand{"c", {"a", "b"}, false}},
    {Step::RunCommand{"c", {"ab"}, false}},
    {Step::ForceUnlock{url("/x"), ForceRemedy::unmount}},
    {Step::ForceUnlock{url("/x"), ForceRemedy::stripACL}},
};
const DeletionPlan plan{*Uuid::parse("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"),
                        at(1796545868),
                        Origin::forceDelete(),
                        steps,
                        18446744073709551615ull,
                        true};

// Pairwise unequal samples of each record: a minimal one and fuller ones.
template <class T>
std::vector<T> samples();

#define KB_SAMPLES(T, ...)        \
    template <>                   \
    std::vector<T> samples<T>() { \
        return {__VA_ARGS__};     \
    }

KB_SAMPLES(ProcessRef, process, {})
KB_SAMPLES(AppRuntimeStatus, runtime, {})
KB_SAMPLES(S::CalendarTrigger, {}, {.minute = 0}, {.hour = 0}, {.day = 1}, {.weekday = 1},
           {.month = 1})
KB_SAMPLES(S, schedule, S::unscheduled())
KB_SAMPLES(LaunchItem, agent, {.id = "agent"})
KB_SAMPLES(InstalledApp, app, [] {
    auto full = app;
    full.bundleID = "com.example.notes";
    full.lastUsed = at(1'796'000'000);
    full.lastUsedSource = LastUsedSource::savedState;
    full.bundleSize = 0;
    full.embeddedBundleIDs = {"a", "b"};
    full.launchItems = {agent};
    full.runtime = runtime;
    return full;
}())
KB_SAMPLES(LeftoverCandidate, candidate,
           LeftoverCandidate(url("/x"), LeftoverKind::log, 0,
                             {MatchReason::teamID, MatchReason::spotlight}, Confidence::low, true,
                             "shared", {"x"}, {process}, true))
KB_SAMPLES(BusyCheck, BusyCheck::none(), BusyCheck::processRunning({}),
           BusyCheck::processRunning({"a", "b"}), BusyCheck::processRunning({"ab"}),
           BusyCheck::openHandle(), BusyCheck::sqliteLive(), BusyCheck::gradleDaemon(),
           BusyCheck::dockerRunning(), BusyCheck::owningApplication())
KB_SAMPLES(RuleProvider, RuleProvider::globs({}), RuleProvider::globs({"x"}),
           RuleProvider::builtin("x"))
KB_SAMPLES(SkipReason, SkipReason::busy("a"), SkipReason::busy("b"),
           SkipReason::needsFullDiskAccess(), SkipReason::needsHelper(), SkipReason::absent())
KB_SAMPLES(CleanGroup, {"systemJunk", -4, "shippingbox"}, {"a", 0, "s"})
KB_SAMPLES(CleanRule, rule,
           CleanRule("r", "g", RuleProvider::builtin("b"), SafetyLevel::risky,
                     RegenerationCost::network, true, true, BusyCheck::none(),
                     DeletionMode::command, 0.1, {"a"}, -2))
KB_SAMPLES(ScannedItem, item, {url("/tmp/f"), 0, std::nullopt, false})
KB_SAMPLES(SkippedPath, {url("/x"), SkipReason::absent()}, {url("/x"), SkipReason::busy("X")})
KB_SAMPLES(ScanResult, {"user.caches", {item}, {{url("/p"), SkipReason::busy("X")}}, {"no /z"}},
           {"empty", {}, {}, {}})
KB_SAMPLES(Origin, Origin::uninstall("com.example.app"), Origin::clean({"a", "b"}),
           Origin::clean({}), Origin::forceDelete(), Origin::orphans())
KB_SAMPLES(Step, steps)
KB_SAMPLES(DeletionPlan, plan, {plan.id, at(0), Origin::orphans(), {}, 0, false})
#undef KB_SAMPLES

// Gathered per type by one small template, checked by code compiled once: a typed test, with
// gtest's reporting built for every type, made this file the slowest of the tree to compile.
struct RoundTrip {
    std::string text, error;  // the JSON form; why decoding failed
    bool sameValueAndHash, repeatsASample;
};

template <class... T>
std::vector<RoundTrip> roundTrips() {
    std::vector<RoundTrip> out;
    const auto check = [&]<class U>(const std::vector<U>& samples) {
        for (auto sample = samples.begin(); sample != samples.end(); ++sample) {
            const auto text = json::encode(*sample, json::JsonStyle::domain).value();
            const auto back = json::decode<U>(text);
            const std::hash<U> hash;
            out.push_back({text, back.ok() ? "" : back.error().message,
                           back.ok() && *back == *sample && hash(*back) == hash(*sample),
                           std::find(samples.begin(), sample, *sample) != sample});
        }
    };
    (check(samples<T>()), ...);
    return out;
}

TEST(Records, RoundTripThroughJsonAndHashAsTheyCompare) {
    for (const auto& r :
         roundTrips<ProcessRef, AppRuntimeStatus, S::CalendarTrigger, S, LaunchItem, InstalledApp,
                    LeftoverCandidate, BusyCheck, RuleProvider, SkipReason, CleanGroup, CleanRule,
                    ScannedItem, SkippedPath, ScanResult, Step, Origin, DeletionPlan>()) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(r.error, "");
        EXPECT_TRUE(r.sameValueAndHash);
        EXPECT_FALSE(r.repeatsASample) << "the samples must be pairwise unequal";
    }
}

// Decoding errors name the nested record and enumeration the way the wire and store did.
TEST(Records, DecodingErrorsNameTheNestedTypes) {
    const auto message = [](const auto decoded) { return decoded.error().message; };
    EXPECT_EQ(message(json::decode<LaunchItem>(R"({"id":"i","kind":"launchdaemon"})")),
              R"(LaunchItem.kind: LaunchItem.Kind: unknown value "launchdaemon")");
    EXPECT_EQ(message(json::decode<S::CalendarTrigger>(R"({"hour":"3"})")),
              "LaunchSchedule.CalendarTrigger.hour: expected a number");
    EXPECT_EQ(message(json::decode<InstalledApp>(R"({"id":"a"})")),
              R"(InstalledApp: missing key "name")");
    EXPECT_EQ(message(json::decode<ScanResult>(R"({"ruleID":"r","items":{}})")),
              "ScanResult.items: array: expected an array");
    EXPECT_EQ(message(json::decode<SkipReason>(R"({"busy":{}})")),
              R"(busy: missing key "process")");
    EXPECT_EQ(message(json::decode<Step>(R"({"forceUnlock":{"_0":"file:///y","_2":"unmount"}})")),
              R"(forceUnlock: missing key "_1")");
}

}  // namespace
}  // namespace kb
