#include "CleanerCore/model/CleanRule.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "testing/RecordChecks.h"

namespace kb {
namespace {

using testing::domainJson;

FileURL url(const char* path) {
    return *FileURL::fromPath(path);
}

CleanRule sampleRule() {
    return CleanRule("xcode.derivedData", "developerJunk",
                     RuleProvider::globs({"~/Library/Developer/Xcode/DerivedData/*"}),
                     SafetyLevel::safe, RegenerationCost::local, false, false,
                     BusyCheck::processRunning({"Xcode", "xcodebuild"}), DeletionMode::unlink,
                     std::nullopt, {}, 3);
}

TEST(CleanRule, EnumsWithPayloadsAndRecordsHaveTheirExactJson) {
    EXPECT_EQ(domainJson(BusyCheck::none()), R"({"none":{}})");
    EXPECT_EQ(domainJson(BusyCheck::processRunning({"Xcode", "swift/x"})),
              R"({"processRunning":{"_0":["Xcode","swift/x"]}})");
    EXPECT_EQ(domainJson(BusyCheck::owningApplication()), R"({"owningApplication":{}})");
    EXPECT_EQ(domainJson(RuleProvider::globs({"~/a/*"})), R"({"globs":{"_0":["~/a/*"]}})");
    EXPECT_EQ(domainJson(RuleProvider::builtin("apps")), R"({"builtin":{"key":"apps"}})");
    EXPECT_EQ(domainJson(SkipReason::busy("Xcode")), R"({"busy":{"process":"Xcode"}})");
    EXPECT_EQ(domainJson(SkipReason::needsHelper()), R"({"needsHelper":{}})");
    EXPECT_EQ(domainJson(ScannedItem{url("/tmp/f"), 0, std::nullopt, false}),
              R"({"isDirectory":false,"path":"file:///tmp/f","size":0})");
    EXPECT_EQ(domainJson(ScannedItem{url("/Users/a/Library/Caches/x y"), 4096,
                                     Date(std::chrono::seconds(1796545868)), true}),
              R"({"isDirectory":true,"modifiedAt":"2026-12-06T08:31:08Z",)"
              R"("path":"file:///Users/a/Library/Caches/x%20y","size":4096})");
}

TEST(CleanRule, CheckedByDefaultOnlyWhenSafeAndCheapToRegenerate) {
    EXPECT_LT(SafetyLevel::safe, SafetyLevel::review);
    EXPECT_LT(SafetyLevel::review, SafetyLevel::risky);
    const std::tuple<SafetyLevel, RegenerationCost, bool> cases[] = {
        {SafetyLevel::safe, RegenerationCost::free, true},
        {SafetyLevel::safe, RegenerationCost::local, true},
        {SafetyLevel::safe, RegenerationCost::network, false},
        {SafetyLevel::safe, RegenerationCost::irreplaceable, false},
        {SafetyLevel::review, RegenerationCost::free, false},
        {SafetyLevel::risky, RegenerationCost::local, false},
    };
    for (const auto& [safety, cost, checked] : cases) {
        auto rule = sampleRule();
        rule.safety = safety;
        rule.regenerationCost = cost;
        EXPECT_EQ(rule.isCheckedByDefault(), checked) << rawValue(safety) << " " << rawValue(cost);
    }
}

TEST(CleanRule, ScanResultSumsExclusionsAndEmptiness) {
    const auto a = url("/a");
    const auto b = url("/b");
    const auto c = url("/c");
    const auto sized = [](const FileURL& path, std::uint64_t size, bool isDirectory = false) {
        return ScannedItem{path, size, std::nullopt, isDirectory};
    };
    const ScanResult result{"r", {sized(a, 10), sized(b, 20, true), sized(c, 30)}, {}, {}};
    EXPECT_EQ(result.totalBytes(), 60u);
    EXPECT_EQ(result.itemsExcluding({}), result.items);
    EXPECT_EQ(
        result.itemsExcluding({url("/d"), *FileURL::fromPath("/a", FileURL::Kind::directory)}),
        result.items);
    EXPECT_EQ(result.itemsExcluding({b}),
              (std::vector<ScannedItem>{result.items[0], result.items[2]}));
    EXPECT_EQ(result.bytesExcluding({b}), 40u);
    EXPECT_TRUE(result.itemsExcluding({a, b, c}).empty());
    EXPECT_EQ(result.bytesExcluding({a, b, c}), 0u);

    constexpr auto max = std::numeric_limits<std::uint64_t>::max();
    const ScanResult huge{"r", {sized(a, max - 5), sized(b, 10), sized(c, 1)}, {}, {}};
    EXPECT_EQ(huge.totalBytes(), max);
    EXPECT_EQ(huge.bytesExcluding({b}), max - 4);

    // Genuinely empty only without items, skips and errors.
    EXPECT_FALSE(result.isGenuinelyEmpty());
    EXPECT_TRUE((ScanResult{"r", {}, {}, {}}.isGenuinelyEmpty()));
    EXPECT_FALSE((ScanResult{"r", {}, {}, {"boom"}}.isGenuinelyEmpty()));
    EXPECT_FALSE((ScanResult{"r", {}, {{url("/x"), SkipReason::absent()}}, {}}.isGenuinelyEmpty()));
}

}  // namespace
}  // namespace kb
