#include "CleanerCore/model/DirectorySizer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>

#include "testing/TempDir.h"
#include "testing/TestAccount.h"

namespace kb {
namespace {

using testing::makeDirectories;
using testing::TempDir;
using testing::writeFile;

// The trees here are many small files: kept in memory, off the shared disk.
constexpr const char* scratchParent = "/dev/shm";

std::uint64_t allocatedBytesOf(const std::string& path) {
    return testing::statusOf(path).blocks * 512;
}

// What the sizer should find: regular files below `root`, each name counted, no link
// followed.
std::uint64_t expectedTotal(const std::string& root) {
    std::uint64_t total = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && !entry.is_symlink()) {
            total += allocatedBytesOf(entry.path());
        }
    }
    return total;
}

std::uint64_t sizeOf(const std::string& path, unsigned threads = 0) {
    const auto result = DirectorySizer::allocatedSize(path, {}, {.maxThreads = threads});
    EXPECT_TRUE(result.ok());
    return result.ok() ? *result : 0;
}

// `directories` directories below `root` (none: `root` itself) of `filesEach` files.
void makeTree(const std::string& root, int directories, int filesEach) {
    for (int d = 0; d < std::max(directories, 1); ++d) {
        const std::string directory = directories == 0 ? root : root + "/d" + std::to_string(d);
        makeDirectories(directory);
        for (int f = 0; f < filesEach; ++f) {
            writeFile(directory + "/f" + std::to_string(f), "x");
        }
    }
}

// Every thread count finds what a plain walk does; a path that is no directory counts nothing.
TEST(DirectorySizer, CountsRegularFilesByAllocatedBlocksWithoutFollowingLinks) {
    TempDir outside;
    TempDir root(scratchParent);
    const std::string big(1 << 20, 'b');
    writeFile(outside / "big", big);
    ASSERT_EQ(::symlink((outside / "big").c_str(), (root / "link").c_str()), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), (root / "dirlink").c_str()), 0);
    ASSERT_EQ(::mkfifo((root / "pipe").c_str(), 0600), 0);
    writeFile(root / "small", "0123456789");
    EXPECT_NE(allocatedBytesOf(root / "small"), 10u);
    makeTree(root.path(), 300, 6);
    std::string deep = root / "chain";
    for (int level = 0; level < 200; ++level) {
        deep += "/n";
    }
    makeDirectories(deep);
    writeFile(deep + "/bottom", big);
    // A hard link counts each time it is met.
    ASSERT_EQ(::link((deep + "/bottom").c_str(), (root / "hard").c_str()), 0);

    const auto expected = expectedTotal(root.path());
    EXPECT_GT(expected, 2 * allocatedBytesOf(root / "hard"));
    for (const unsigned threads : {1u, 2u, 4u}) {
        EXPECT_EQ(sizeOf(root.path(), threads), expected) << threads;
    }
    TempDir empty;
    EXPECT_EQ(sizeOf(empty.path(), 4), 0u);
    for (const std::string& path : {root / "missing", root / "missing/below", root / "small",
                                    root / "dirlink", std::string()}) {
        EXPECT_EQ(sizeOf(path), 0u) << path;
    }
}

TEST(DirectorySizer, StopsAtTheWalksCheckpointsWhateverTheThreads) {
    // Each: a name; makeTree's directories and files in each; the threads; whether it stops.
    const std::tuple<const char*, int, int, unsigned, bool> cases[] = {
        {"511 entries in one directory, one thread", 0, 511, 1, false},
        {"511 entries spread out, four threads", 73, 6, 4, false},
        {"512 entries in one directory, one thread", 0, 512, 1, true},
        {"1002 entries over two subdirectories, two threads", 2, 500, 2, true},
        {"600 entries spread out, four threads", 100, 5, 4, true},
    };
    for (const auto& [name, directories, filesEach, threads, cancelled] : cases) {
        SCOPED_TRACE(name);
        TempDir dir(scratchParent);
        makeTree(dir.path(), directories, filesEach);
        std::stop_source source;
        source.request_stop();
        const auto result =
            DirectorySizer::allocatedSize(dir.path(), source.get_token(), {.maxThreads = threads});
        if (cancelled) {
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error(), CleanerError::cancelled());
        } else {
            ASSERT_TRUE(result.ok());
            EXPECT_EQ(*result, expectedTotal(dir.path()));
        }
    }
}

TEST(DirectorySizer, SkipsASubdirectoryTheCallerCannotRead) {
    testing::TestAccount account("kbdomb");
    ASSERT_TRUE(account.valid());
    TempDir dir;
    makeDirectories(dir / "open");
    writeFile(dir / "open/visible", std::string(50000, 'v'));
    makeDirectories(dir / "locked");
    writeFile(dir / "locked/hidden", std::string(70000, 'h'));
    ASSERT_EQ(::chmod((dir / "locked").c_str(), 0700), 0);
    const auto visible = allocatedBytesOf(dir / "open/visible");
    const int status = account.runAs([&] {
        const auto result = DirectorySizer::allocatedSize(dir.path());
        return result.ok() && *result == visible ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(sizeOf(dir.path()), visible + allocatedBytesOf(dir / "locked/hidden"));
}

}  // namespace
}  // namespace kb
