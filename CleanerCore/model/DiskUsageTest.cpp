#include "CleanerCore/model/DiskUsage.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <string>
#include <tuple>

#include "testing/RecordChecks.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

FileURL url(const std::string& path) {
    return *FileURL::fromPath(path, FileURL::Kind::directory);
}

TEST(DiskUsageSnapshot, UsedFractionClampsAndAvoidsDividingByZero) {
    const std::tuple<std::uint64_t, std::uint64_t, double> cases[] = {
        {100, 25, 0.75}, {100, 150, 0.0}, {0, 0, 0.0}, {0, 10, 0.0}, {100, 100, 0.0}, {100, 0, 1.0},
    };
    for (const auto& [total, available, expected] : cases) {
        SCOPED_TRACE(std::to_string(total) + "/" + std::to_string(available));
        const DiskUsageSnapshot snapshot{
            .volumeURL = url("/"), .totalBytes = total, .availableBytes = available};
        EXPECT_DOUBLE_EQ(snapshot.usedFraction(), expected);
    }
}

TEST(DiskUsage, SnapshotReadsTheVolumeOfTheGivenLocationOrNamesItsError) {
    testing::TempDir dir;
    const auto snapshot = DiskUsage::snapshot(url(dir.path()));
    ASSERT_TRUE(snapshot.ok());
    struct statvfs figures {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &figures), 0);
    EXPECT_EQ(snapshot->volumeURL, url(dir.path()));
    EXPECT_EQ(snapshot->totalBytes, std::uint64_t{figures.f_blocks} * figures.f_frsize);
    EXPECT_LE(snapshot->availableBytes, snapshot->totalBytes);
    EXPECT_GT(snapshot->availableBytes, 0u);
    EXPECT_EQ(snapshot->purgeableBytes, std::uint64_t{0});

    const auto root = DiskUsage::rootVolume();
    ASSERT_TRUE(root.ok());
    EXPECT_EQ(root->volumeURL.absoluteString(), "file:///");
    EXPECT_GT(root->totalBytes, 0u);

    testing::writeFile(dir / "file", "x");
    for (const auto& [path, code] :
         {std::pair{dir / "missing", ENOENT}, {dir / "file/below", EIO}}) {
        EXPECT_EQ(DiskUsage::snapshot(url(path)).error(), CleanerError::io(path, code)) << path;
    }
}

TEST(DiskUsageSnapshot, JsonFormRoundTripsAndOmitsAbsentPurgeable) {
    const DiskUsageSnapshot without{
        .volumeURL = url("/srv/data"), .totalBytes = 1000, .availableBytes = 250};
    DiskUsageSnapshot with = without;
    with.purgeableBytes = 0;
    EXPECT_EQ(testing::domainJson(without),
              R"({"availableBytes":250,"totalBytes":1000,"volumeURL":"file:///srv/data/"})");
    testing::expectRoundTripsAndHashes(std::vector{without, with});
    for (const char* text : {R"({"volumeURL":"file:///","totalBytes":1})",
                             R"({"volumeURL":"file:///","totalBytes":1,"availableBytes":-1})"}) {
        EXPECT_FALSE(json::decode<DiskUsageSnapshot>(text).ok()) << text;
    }
}

}  // namespace
}  // namespace kb
