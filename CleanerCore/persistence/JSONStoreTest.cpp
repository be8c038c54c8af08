#include "CleanerCore/persistence/JSONStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "CleanerCore/model/DiskUsage.h"
#include "CleanerCore/persistence/AppDirectories.h"
#include "testing/TempDir.h"
#include "testing/TestAccount.h"

namespace kb {
namespace {

using testing::pathExists;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;
using Record = DiskUsageSnapshot;  // any record with a JSON form will do
using Store = JSONStore<Record>;

FileURL urlOf(const std::string& path) {
    return *FileURL::fromPath(path);
}

mode_t modeOf(const std::string& path) {
    return testing::statusOf(path).mode & 07777;
}

Record counted(Record r) {
    ++r.totalBytes;
    return r;
}

const Record defaults{.volumeURL = urlOf("/"), .totalBytes = 0, .availableBytes = 0};
const Record stored{.volumeURL = urlOf("/a b"), .totalBytes = 7, .availableBytes = 2};

size_t entriesIn(const std::string& directory) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(directory), {}));
}

TEST(JSONStore, AMissingFileGivesTheDefaultAndSavingMakesAPrivateChainAndAPrettySortedFile) {
    TempDir dir;
    const auto path = dir / "a/b/c/store.json";
    Store reader(urlOf(path), defaults);
    EXPECT_EQ(*reader.load(), defaults);
    EXPECT_FALSE(pathExists(dir / "a"));
    Store store(urlOf(path), defaults);
    const auto updated = store.update(counted);
    ASSERT_TRUE(updated.ok());
    EXPECT_EQ(updated->totalBytes, 1u);
    // The cached default stays even after the file appears.
    EXPECT_EQ(*reader.load(), defaults);
    for (const char* made : {"a", "a/b", "a/b/c"}) {
        EXPECT_EQ(modeOf(dir / made), 0700u) << made;
    }
    EXPECT_EQ(modeOf(path), 0600u);
    // A replaced file keeps its mode, and no temporary file is left behind.
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(store.save(stored).ok());
    EXPECT_EQ(readFile(path),
              "{\n  \"availableBytes\" : 2,\n  \"totalBytes\" : 7,\n"
              "  \"volumeURL\" : \"file:///a%20b\"\n}");
    EXPECT_EQ(modeOf(path), 0640u);
    EXPECT_EQ(*store.load(), stored);
    EXPECT_EQ(*Store(urlOf(path), defaults).load(), stored);
    EXPECT_EQ(entriesIn(dir / "a/b/c"), 1u);
}

// Undecodable contents fail every load, and no failed load or save replaces the file.
TEST(JSONStore, FailedLoadsAndSavesLeaveTheFileAndTheCacheAsTheyWere) {
    TempDir dir;
    const auto path = dir / "store.json";
    for (const char* contents : {"{not json", "", "[]", R"({"volumeURL":"file:///"})",
                                 R"({"volumeURL":"/","totalBytes":1,"availableBytes":1})"}) {
        SCOPED_TRACE(contents);
        writeFile(path, contents);
        Store store(urlOf(path), defaults);
        for (int attempt = 0; attempt < 2; ++attempt) {
            const auto loaded = store.load();
            ASSERT_FALSE(loaded.ok());
            EXPECT_TRUE(std::holds_alternative<PersistenceError::Decoding>(loaded.error().kind));
        }
        EXPECT_FALSE(store.update(counted).ok());
        EXPECT_EQ(readFile(path), contents);
        ASSERT_TRUE(store.save(stored).ok());
        EXPECT_EQ(*store.load(), stored);
    }
    const std::string before = readFile(path);
    testing::TestAccount account("kbdoma");
    ASSERT_TRUE(account.valid());
    // The directory belongs to root and is 0755: the account may read the file, not replace it.
    const int status = account.runAs([&] {
        Store store(urlOf(path), defaults);
        const bool loaded = store.load().ok();
        const auto saved = store.save(defaults);
        const auto* io =
            saved.ok() ? nullptr : std::get_if<PersistenceError::Io>(&saved.error().kind);
        // An update fails the same way; the cache keeps what the file holds.
        const bool refused =
            io != nullptr && io->error.code == EACCES && !store.update(counted).ok();
        return loaded && refused && *store.load() == stored ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(entriesIn(dir.path()), 1u);

    const auto directory = dir / "directory.json";  // a directory where the file should be
    testing::makeDirectories(directory);
    Store unreadable(urlOf(directory), defaults);
    const auto loaded = unreadable.load();
    ASSERT_FALSE(loaded.ok());
    EXPECT_TRUE(std::holds_alternative<PersistenceError::Io>(loaded.error().kind));
    EXPECT_FALSE(unreadable.save(stored).ok());
}

TEST(JSONStore, ConcurrentUpdatesOfOneStoreAreNeverLost) {
    TempDir dir;
    Store store(urlOf(dir / "counter.json"), defaults);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store] {
            for (int i = 0; i < 25; ++i) {
                ASSERT_TRUE(store.update(counted).ok());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(Store(urlOf(dir / "counter.json"), defaults).load()->totalBytes, 100u);
}

TEST(AppDirectories, SupportDirectoryIsBelowTheHomeLibraryAndIsNotMade) {
    TempDir dir;
    for (const auto& home : {*FileURL::fromPath(dir.path(), FileURL::Kind::directory),
                             *FileURL::fromPath(dir.path())}) {
        const auto support = AppDirectories::supportDirectory(home);
        EXPECT_EQ(support.path(), dir / "Library/Application Support/dev.kestrelbay");
        EXPECT_TRUE(support.isDirectory());
    }
    EXPECT_FALSE(pathExists(dir / "Library"));
}

}  // namespace
}  // namespace kb
